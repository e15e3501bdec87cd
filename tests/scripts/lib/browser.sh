# SPDX-License-Identifier: GPL-3.0-or-later
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

# open_browser PROFILE [SPKI]: a session of headless Chromium through the
# driver started above, its profile in PROFILE, trusting the certificate
# with public-key hash SPKI when given; sets session (empty when none).
open_browser() {
  local capabilities
  capabilities=$(jq -nc --arg profile "$1" --arg spki "${2:-}" '{capabilities: {alwaysMatch: {
    browserName: "chrome",
    "goog:chromeOptions": {binary: "/usr/bin/chromium", args: ([
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--no-first-run", "--mute-audio",
      "--autoplay-policy=no-user-gesture-required", ("--user-data-dir=" + $profile)]
      + (if $spki == "" then [] else ["--ignore-certificate-errors-spki-list=" + $spki] end))}}}}')
  session=$(curl -s -X POST "http://127.0.0.1:$driver_port/session" -H 'Content-Type: application/json' \
    -d "$capabilities" | jq -r '.value.sessionId // empty')
}

wd() {  # METHOD PATH [JSON]: a request to the browser session
  curl -s -X "$1" "http://127.0.0.1:$driver_port/session/$session$2" -H 'Content-Type: application/json' \
    -d "${3:-{\}}"
}
js() {  # runs a script in the page; prints its value as JSON
  wd POST /execute/sync "$(jq -nc --arg s "$1" '{script: $s, args: []}')" | jq -c '.value'
}
until_true() {  # EXPRESSION TENTHS-OF-A-SECOND
  local i
  for ((i = 0; i < $2; i++)); do
    [ "$(js "return Boolean($1)")" = true ] && return 0
    sleep 0.1
  done
  return 1
}
