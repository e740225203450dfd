# Sourced by the audio checks: a PulseAudio server of their own with one null
# sink, "kolvan_null", at 48 kHz, whose monitor source records what is played
# into it. No system daemon and no sound hardware: the server runs in the
# foreground as a child of the script, in a runtime directory of its own, and
# null_sink_stop stops it by its pid. It uses no shared memory, which a
# container may lack. Clients find it through PULSE_SERVER (ALSA's "default"
# device then goes through its pulse plugin) and never start a server of
# their own.
NULL_SINK_PACKAGES=(pulseaudio pulseaudio-utils libasound2-plugins)

# Starts the server in DIR (made if missing) and exports what clients need.
# False, with the server's log in DIR/pulse.log, when it isn't up within 10 s.
null_sink_start() {
  local dir=$1
  mkdir -p "$dir/runtime" "$dir/home"
  chmod 700 "$dir/runtime"
  echo "autospawn = no" > "$dir/client.conf"
  XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" PULSE_CLIENTCONFIG="$dir/client.conf" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --disable-shm \
    --log-target=stderr --log-level=error \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    -L "module-null-sink sink_name=kolvan_null rate=48000 channels=2" \
    -L "module-always-sink" >"$dir/pulse.log" 2>&1 &
  NULL_SINK_PID=$!
  export PULSE_SERVER="unix:$dir/native" PULSE_CLIENTCONFIG="$dir/client.conf"
  # The monitor source as an ALSA capture device.
  export NULL_SINK_MONITOR=pulse:kolvan_null.monitor
  local tries
  for tries in $(seq 100); do
    pactl info >/dev/null 2>&1 && pactl set-default-sink kolvan_null >/dev/null 2>&1 &&
      pactl set-default-source kolvan_null.monitor >/dev/null 2>&1 && return 0
    kill -0 "$NULL_SINK_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

null_sink_stop() {
  [ -n "${NULL_SINK_PID:-}" ] || return 0
  kill "$NULL_SINK_PID" 2>/dev/null || true
  wait "$NULL_SINK_PID" 2>/dev/null || true
  NULL_SINK_PID=
}
