#!/usr/bin/env bash
# End to end through this machine's sound stack: for each station, a
# PulseAudio server of its own with a null sink (scripts/null-sink.sh),
# kolvan playing into it through ALSA's default device (its pulse plugin),
# and kolvan-monitor --audio recording the sink's monitor source; the
# monitor must decode the minute kolvan showed, and kolvan end on SIGINT
# with "Exit!" and status 0. The stations run side by side, each on its own
# server, so the whole check takes about 75 seconds:
#
#   scripts/audio-check.sh KOLVAN MONITOR [STATION...]     (default: all)
#
# KOLVAN is the program, or scripts/wine-kolvan.sh to run kolvan.exe under
# Wine (in the prefix WINEPREFIX names). kolvan runs under libfaketime with
# its clock moved by whole seconds to 8 s before a minute, so its seconds
# still begin with the host's; the monitor reads the real clock. Both run
# in UTC, so the expected minute is plain: the one sent (JJY, WWVB) or the
# one after it (DCF77, MSF, whose frame carries the next minute). Ends with
# "N passed, M failed" and a non-zero status when any station failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/null-sink.sh"

if [ $# -lt 2 ]; then
  echo "Usage: scripts/audio-check.sh KOLVAN MONITOR [STATION...]" >&2
  exit 2
fi
kolvan=$1 monitor=$2
shift 2
stations=("$@")
[ ${#stations[@]} -gt 0 ] || stations=(jjy40 jjy60 wwvb dcf77 msf)
faketime=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
[ -r "$faketime" ] || { echo "FAIL - $faketime is missing"; exit 1; }
work=$(mktemp -d /tmp/kolvan-audio-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The minute a station's frame sent during the minute starting at $1 carries.
carried_minute() {
  case $2 in
    dcf77 | msf) echo $(($1 + 60)) ;;
    *) echo "$1" ;;
  esac
}

# One station, start to end; its verdict on the last line of $dir/verdict.
check_station() {
  local station=$1 dir=$work/$1
  mkdir -p "$dir"
  if ! null_sink_start "$dir"; then
    echo "FAIL - $station: no sound server: $(cat "$dir/pulse.log")" >"$dir/verdict"
    return
  fi
  local now offset minute carried expected
  now=$(date +%s)
  offset=$(((52 - now % 60 + 60) % 60))
  minute=$(((now + offset) / 60 * 60 + 60))
  carried=$(carried_minute "$minute" "$station")
  expected="decoded $(TZ=UTC date -d "@$carried" '+%Y-%m-%d %H:%M')"
  TZ=UTC timeout -k 5 110 "$monitor" "--station=$station" --audio \
    >"$dir/monitor.out" 2>"$dir/monitor.err" &
  local monitor_pid=$!
  TZ=UTC LD_PRELOAD=$faketime FAKETIME="+$offset" ASAN_OPTIONS=verify_asan_link_order=0 \
    timeout -k 5 -s INT 110 "$kolvan" "--station=$station" --audio \
    >"$dir/kolvan.out" 2>"$dir/kolvan.err" &
  local kolvan_pid=$!
  local waited
  for waited in $(seq 100); do
    grep -q "^decoded \|^undecodable" "$dir/monitor.out" && break
    sleep 1
  done
  kill -INT "$kolvan_pid" 2>/dev/null
  wait "$kolvan_pid"
  local kolvan_status=$?
  kill -INT "$monitor_pid" 2>/dev/null
  wait "$monitor_pid"
  null_sink_stop

  local shown decoded
  shown=$(TZ=UTC date -d "@$minute" '+%H:%M:00 ==> ')
  decoded=$(grep -m1 "^decoded \|^undecodable" "$dir/monitor.out")
  if [[ $decoded != "$expected"* ]]; then
    echo "FAIL - $station: expected '$expected...', monitor read '${decoded:-nothing}'"
  elif ! tr -d '\r' <"$dir/kolvan.out" | grep -q "^$shown"; then
    echo "FAIL - $station: kolvan showed no line '$shown'"
  elif ! tr -d '\r' <"$dir/kolvan.out" | grep -q "^Exit!$" || [ "$kolvan_status" -ne 0 ]; then
    echo "FAIL - $station: kolvan ended with status $kolvan_status, without Exit!"
  elif ! tr -d '\r' <"$dir/kolvan.err" | grep -q "^audio: 48000 Hz, "; then
    echo "FAIL - $station: kolvan didn't say which tone it plays"
  else
    echo "ok - $station: $decoded"
  fi >"$dir/verdict"
  if ! grep -q "^ok" "$dir/verdict"; then
    for file in kolvan.out kolvan.err monitor.out monitor.err; do
      echo "--- $station $file"
      tr -d '\r' <"$dir/$file"
    done >>"$dir/verdict"
  fi
}

for station in "${stations[@]}"; do
  check_station "$station" &
done
wait
passed=0 failed=0
for station in "${stations[@]}"; do
  cat "$work/$station/verdict"
  if grep -q "^ok" "$work/$station/verdict"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
