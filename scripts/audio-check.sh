#!/usr/bin/env bash
# End to end through this machine's sound stack: for each station, a
# PulseAudio server of its own with a null sink (scripts/lib/null-sink.sh),
# kolvan playing into it through ALSA's default device (its pulse plugin),
# and kolvan-monitor --audio recording the sink's monitor source; the
# monitor must decode the minute kolvan showed, and kolvan end on SIGINT
# with "Exit!" and status 0. The stations run side by side, each on its own
# server, so the whole check takes about 75 seconds:
#
#   scripts/audio-check.sh KOLVAN MONITOR [STATION...]     (default: all)
#
# KOLVAN is the program, or scripts/wine-kolvan.sh to run kolvan.exe under
# Wine (in the prefix WINEPREFIX names). kolvan is given an offset of whole
# seconds that puts its clock 8 s before a minute (and not in minute 15 or
# 45, which JJY leaves without a frame), so its seconds still begin with the
# host's and its first frame comes at once. (libfaketime would do the same
# for the Linux build, but under Wine it silenced the sound: Wine's server
# runs on the real clock.) Both programs run in UTC, so the expected minute
# is plain: the one kolvan shows, or the one after it for a station whose
# frame carries the NEXT minute. The stations and that rule come from
# `KOLVAN --help`. Ends with "N passed, M failed" and a non-zero status
# when any station failed.
#
# AUDIO_CHECK_MINUTES=N (default 1) lets a station's first decoded minute be
# any of the first N kolvan sends, for a sound path that may drop a symbol
# now and then (Wine's; see scripts/wine-audio-check.sh); each further
# minute adds one to the check's length. A station that fails is tried once
# more, which adds as long again.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/null-sink.sh"

if [ $# -lt 2 ]; then
  echo "Usage: scripts/audio-check.sh KOLVAN MONITOR [STATION...]" >&2
  exit 2
fi
kolvan=$1 monitor=$2
shift 2
stations=("$@")

# The stations as --help lists them, each with the seconds between the
# minute its frame is sent in and the minute it carries: 60 when its time
# line says "NEXT", 0 otherwise.
station_rules() {
  "$kolvan" --help | tr -d '\r' | awk '
    function flush() { if (name != "") print name, after; name = "" }
    /^  [a-z0-9]+ +[A-Z0-9]+, [0-9.]+ kHz:/ { flush(); name = $1; after = 0; next }
    /^$/ { flush(); next }
    name != "" && /NEXT/ { after = 60 }
    END { flush() }'
}
declare -A carried_after
listed=()
while read -r name after; do
  carried_after[$name]=$after
  listed+=("$name")
done < <(station_rules)
if [ ${#listed[@]} -eq 0 ]; then
  echo "audio-check: $kolvan --help lists no station" >&2
  exit 2
fi
[ ${#stations[@]} -gt 0 ] || stations=("${listed[@]}")
work=$(mktemp -d /tmp/kolvan-audio-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The minute a station's frame sent during the minute starting at $1 carries.
carried_minute() { echo $(($1 + ${carried_after[$2]:-0})); }

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
  while [ $((minute / 60 % 30)) -eq 15 ]; do
    offset=$((offset + 60)) minute=$((minute + 60))
  done
  carried=$(carried_minute "$minute" "$station")
  local minutes=${AUDIO_CHECK_MINUTES:-1} k expected=()
  for ((k = 0; k < minutes; k++))
    do expected+=("decoded $(TZ=UTC date -d "@$((carried + 60 * k))" '+%Y-%m-%d %H:%M')"); done
  local limit=$((50 + 60 * minutes))
  TZ=UTC timeout -k 5 "$limit" "$monitor" "--station=$station" --audio \
    >"$dir/monitor.out" 2>"$dir/monitor.err" &
  local monitor_pid=$!
  TZ=UTC timeout -k 5 -s INT "$limit" "$kolvan" "--station=$station" --zone=UTC --audio "$offset" \
    >"$dir/kolvan.out" 2>"$dir/kolvan.err" &
  local kolvan_pid=$!
  local waited
  for waited in $(seq $((limit - 10))); do
    grep -q "^decoded " "$dir/monitor.out" && break
    [ "$(grep -c "^undecodable" "$dir/monitor.out")" -ge "$minutes" ] && break
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
  decoded=$(grep -m1 "^decoded " "$dir/monitor.out")
  local right=
  for k in "${expected[@]}"; do [[ $decoded == "$k"* ]] && right=1; done
  if [ -z "$right" ]; then
    echo "FAIL - $station: expected '${expected[0]}...', monitor read '${decoded:-nothing}'"
  elif ! tr -d '\r' <"$dir/kolvan.out" | grep -q "^$shown"; then
    echo "FAIL - $station: kolvan showed no line '$shown'"
  elif ! tr -d '\r' <"$dir/kolvan.out" | grep -q "^Exit!$" || [ "$kolvan_status" -ne 0 ]; then
    echo "FAIL - $station: kolvan ended with status $kolvan_status, without Exit!"
  elif ! tr -d '\r' <"$dir/kolvan.err" | grep -q "^audio: 48000 Hz, "; then
    echo "FAIL - $station: kolvan didn't say which tone it plays"
  else
    echo "ok - $station: $decoded$(grep -q "^undecodable" "$dir/monitor.out" && echo " (after an undecodable minute)")"
  fi >"$dir/verdict"
  if ! grep -q "^ok" "$dir/verdict"; then
    for file in kolvan.out kolvan.err monitor.out monitor.err; do
      echo "--- $station $file"
      tr -d '\r' <"$dir/$file"
    done >>"$dir/verdict"
  fi
}

# Every station side by side; a station that failed is tried once more
# (with only the others that failed beside it): on a loaded host a sound
# server woken late leaves a hole that spoils a minute's symbol, and the
# check is of kolvan's code, not of the host's scheduling.
run_round() {
  local station
  for station in "$@"; do check_station "$station" & done
  wait
}
run_round "${stations[@]}"
again=()
for station in "${stations[@]}"; do
  grep -q "^ok" "$work/$station/verdict" || again+=("$station")
done
if [ ${#again[@]} -gt 0 ]; then
  for station in "${again[@]}"; do sed -n 1p "$work/$station/verdict" | sed 's/^/first try: /'; done
  run_round "${again[@]}"
fi
passed=0 failed=0
for station in "${stations[@]}"; do
  cat "$work/$station/verdict"
  if grep -q "^ok" "$work/$station/verdict"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "$passed passed, $failed failed"
