# The browser driver of the scripted page tests (sourced, not run).

# start_chromedriver LOG: starts chromedriver on a free loopback port, its
# output in LOG, and sets driver (its PID) and driver_port; driver is empty
# when it did not start after 20 tries.
start_chromedriver() {
  local log=$1 _
  for _ in $(seq 20); do
    driver_port=$(shuf -i 20000-60000 -n 1)
    chromedriver --port="$driver_port" --allowed-ips=127.0.0.1 >"$log" 2>&1 &
    driver=$!
    for _ in $(seq 50); do
      curl -s "http://127.0.0.1:$driver_port/status" 2>/dev/null | jq -e '.value.ready' >/dev/null 2>&1 && return 0
      kill -0 "$driver" 2>/dev/null || break
      sleep 0.1
    done
    kill "$driver" 2>/dev/null
    wait "$driver" 2>/dev/null
    driver=""
  done
}
