#!/usr/bin/env bash
# Runs kolvan on a virtual serial port made by kolvan-monitor, which reads the
# line back and decodes it; shows both, labelled, until Ctrl-C, then stops
# both. Any arguments are passed on to kolvan (a --station=NAME among them
# to the monitor too). Installs the packages it needs and builds the
# programs first.
#
# With --audio first, kolvan plays through the sound card instead, into a
# null sink of a PulseAudio server of the demo's own (scripts/lib/null-sink.sh),
# and the monitor records that sink's monitor source.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/null-sink.sh
audio=
if [ "${1:-}" = --audio ]; then
  audio=1
  shift
  ensure_packages cmake g++ make libasound2-dev "${NULL_SINK_PACKAGES[@]}"
else
  ensure_packages cmake g++ make
fi
cmake --workflow --preset release >/dev/null

dir=$(mktemp -d)
mkfifo "$dir/monitor" "$dir/kolvan"
monitor_pid= kolvan_pid=
stop() {
  for pid in $kolvan_pid $monitor_pid; do kill -INT "$pid" 2>/dev/null || true; done
}
cleanup() {
  stop
  for pid in $kolvan_pid $monitor_pid; do wait "$pid" 2>/dev/null || true; done
  null_sink_stop
  rm -rf "$dir"
}
trap cleanup EXIT
# Ctrl-C reaches kolvan and the monitor too; the loop below then shows what
# they still write (kolvan's "Exit!") before the script ends.
trap stop INT TERM

# kolvan's options go before the port; the monitor reads the station
# kolvan is told to send.
kolvan_options=() offset=() monitor_args=()
for arg in "$@"; do
  case $arg in
    --station=*) kolvan_options+=("$arg") monitor_args+=("$arg") ;;
    --*) kolvan_options+=("$arg") ;;
    *) offset+=("$arg") ;;
  esac
done
if [ -n "$audio" ]; then
  null_sink_start "$dir/sound" || { cat "$dir/sound/pulse.log" >&2; exit 1; }
  build/release/kolvan-monitor "${monitor_args[@]}" --audio >"$dir/monitor" 2>&1 &
else
  build/release/kolvan-monitor "${monitor_args[@]}" >"$dir/monitor" 2>&1 &
fi
monitor_pid=$!
exec 5<"$dir/monitor"
IFS= read -r header <&5 || { echo "kolvan-monitor did not start" >&2; exit 1; }
port=${header#Virtual serial port: }
printf 'monitor| %s\n' "$header"

if [ -n "$audio" ]; then
  build/release/kolvan "${kolvan_options[@]}" --audio "${offset[@]}" >"$dir/kolvan" 2>&1 &
else
  build/release/kolvan "${kolvan_options[@]}" "$port" "${offset[@]}" >"$dir/kolvan" 2>&1 &
fi
kolvan_pid=$!
exec 4<"$dir/kolvan"

# kolvan writes its glyphs one at a time, without a line end until the
# minute is over: its output is passed on character by character, with the
# label at the start of each line. A monitor line that comes while a kolvan
# line is in progress is put above it: on a terminal the partial line is
# erased and drawn again below, elsewhere it is continued on a new line.
partial=
show_monitor_line() {
  if [ -n "$partial" ]; then
    if [ -t 1 ]; then printf '\r\033[K'; else printf '\n'; fi
  fi
  printf 'monitor| %s\n' "$1"
  [ -n "$partial" ] && printf 'kolvan | %s' "$partial"
  return 0
}
# The loop never reads with a time limit from the programs' output (a read
# that times out can lose the character it was taking): it reads only what
# is there, and waits on a FIFO of its own that nobody writes to.
mkfifo "$dir/idle"
exec 6<>"$dir/idle"
monitor_open=1
while :; do
  got=
  while read -r -t 0 -u 4; do
    IFS= read -r -N 1 -u 4 char || break 2  # kolvan has ended
    got=1
    [ -z "$partial" ] && printf 'kolvan | '
    printf '%s' "$char"
    if [ "$char" = $'\n' ]; then partial=; else partial+=$char; fi
  done
  while [ -n "$monitor_open" ] && read -r -t 0 -u 5; do
    if IFS= read -r line <&5; then show_monitor_line "$line"; else monitor_open=; fi
  done
  [ -n "$got" ] || read -r -t 0.05 -u 6 _ || true
done
[ -n "$partial" ] && printf '\n'
stop
if [ -n "$monitor_open" ]; then
  while IFS= read -r line <&5; do printf 'monitor| %s\n' "$line"; done
fi
