# SPDX-License-Identifier: GPL-3.0-or-later
# The private sound server of the test scripts (sourced, not run): started by
# scripts/with-pulse.sh and scripts/with-pipewire.sh, and stopped and started
# again by the tests of a lost server, which source this file so that the
# server they start again is their own child. Which server
# is SOMORA_SOUND_SERVER's (pulseaudio or pipewire); it lives in
# XDG_RUNTIME_DIR, which also holds the ids of its processes (server.pids),
# so that whoever started it last, it is stopped by its own ids.

# Starts the server with two null sinks: "speakers", the default sink, and
# "venue", the line input, whose monitor is the default source. Fails with
# the server's log when it does not come up.
server_start() {
  local runtime=$XDG_RUNTIME_DIR pidfile=$XDG_RUNTIME_DIR/server.pids
  case ${SOMORA_SOUND_SERVER:-} in
    pulseaudio)
      pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
        --load=module-native-protocol-unix \
        --load="module-null-sink sink_name=speakers" \
        --load="module-null-sink sink_name=venue" >>"$runtime/pulse.log" 2>&1 &
      echo $! >>"$pidfile"
      ;;
    pipewire)
      pipewire >>"$runtime/pipewire.log" 2>&1 &
      echo $! >>"$pidfile"
      for _ in $(seq 50); do
        [ -S "$runtime/pipewire-0" ] && break
        sleep 0.1
      done
      wireplumber >>"$runtime/wireplumber.log" 2>&1 &
      echo $! >>"$pidfile"
      pipewire-pulse >>"$runtime/pipewire-pulse.log" 2>&1 &
      echo $! >>"$pidfile"
      ;;
    *)
      echo "sound-server: SOMORA_SOUND_SERVER is '${SOMORA_SOUND_SERVER:-}', not pulseaudio or pipewire" >&2
      return 1
      ;;
  esac
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "sound-server: $SOMORA_SOUND_SERVER did not start" >&2
    cat "$runtime"/*.log >&2
    return 1
  fi
  if [ "$SOMORA_SOUND_SERVER" = pipewire ]; then
    pactl load-module module-null-sink sink_name=speakers >/dev/null
    pactl load-module module-null-sink sink_name=venue >/dev/null
    # The sinks appear a moment after their modules load.
    for _ in $(seq 50); do
      pactl list short sources | grep -q 'venue.monitor' && pactl list short sinks | grep -q 'speakers' && break
      sleep 0.1
    done
  fi
  pactl set-default-sink speakers
  pactl set-default-source venue.monitor
  for _ in $(seq 50); do
    pactl info | grep -q '^Default Source: venue.monitor$' && pactl info | grep -q '^Default Sink: speakers$' &&
      return 0
    sleep 0.1
  done
  echo "sound-server: the default sink and source were not set" >&2
  return 1
}

# Stops every process of the server with SIGNAL (default TERM), newest
# first, and waits until each is gone.
server_stop() {
  local signal=${1:-TERM} pidfile=$XDG_RUNTIME_DIR/server.pids pids pid i
  [ -f "$pidfile" ] || return 0
  mapfile -t pids <"$pidfile"
  rm -f "$pidfile"
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "-$signal" "$pid" 2>/dev/null || continue
    # Our own child is reaped here; another's is gone once it is a zombie.
    wait "$pid" 2>/dev/null
    for _ in $(seq 100); do
      [ -e "/proc/$pid" ] || break
      [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = Z ] && break
      sleep 0.05
    done
  done
  # What a killed server leaves behind must not keep the next one out.
  rm -f "$XDG_RUNTIME_DIR/pulse/pid"
}
