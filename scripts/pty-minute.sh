#!/usr/bin/env bash
# One real minute on a pseudo-terminal, for builds that the tests' own
# end-to-end run can't reach (the ARM builds under qemu):
#
#   scripts/pty-minute.sh KOLVAN KOLVAN_MONITOR
#
# KOLVAN_MONITOR makes a virtual serial port, KOLVAN keys it; the monitor
# must decode the first minute KOLVAN sends whole to the host's local time,
# with nothing reported before it, and KOLVAN's console must show that
# minute's line. Then SIGINT (Ctrl-C) ends both: KOLVAN with "Exit!", each
# with status 0. Takes one to two minutes, three when the next minute is 15
# or 45 (they carry no frame); ends with "N passed, M failed".
set -uo pipefail
kolvan=$1 monitor=$2

. "$(dirname "$0")/lib/checks.sh"
. "$(dirname "$0")/lib/waiting.sh"

work=$(mktemp -d /tmp/kolvan-minute.XXXXXX)
started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

timeout -s KILL 240 "$monitor" > >(stamp >"$work/monitor") 2>"$work/monitor.err" &
monitor_pid=$!
started+=("$monitor_pid")
wait_for "$work/monitor" '^[0-9]+ Virtual serial port: /dev/pts/[0-9]+$' 20
port=$(sed -n '1s/^[0-9]* Virtual serial port: //p' "$work/monitor")
check "the monitor makes a virtual serial port" [ -n "$port" ]
[ -n "$port" ] || { cat "$work/monitor.err"; finish; }

timeout -s KILL 240 "$kolvan" "$port" >"$work/kolvan" 2>"$work/kolvan.err" &
kolvan_pid=$!
started+=("$kolvan_pid")
wait_for "$work/monitor" '^[0-9]+ (decoded|undecodable) ' 200
sleep 1
kill -INT "$kolvan_pid"
await "$kolvan_pid" 15
kolvan_status=$?
kill -INT "$monitor_pid"
await "$monitor_pid" 15
monitor_status=$?

sed 's/^/    kolvan | /' "$work/kolvan"
sed 's/^[0-9]* /    monitor| /' "$work/monitor"

# The minute read back is the one that began on the host's clock just
# before the monitor's line came.
decodes_to_local_time() {
  local line stamp_s minute expected onset
  line=$(grep -m 1 -E '^[0-9]+ (decoded|undecodable) ' "$work/monitor") || return 1
  stamp_s=${line%% *}
  line=${line#* }
  minute=$(((stamp_s - 30) / 60 * 60))
  expected="decoded $(LC_ALL=C date -d "@$minute" '+%Y-%m-%d %H:%M %a, day %-j'), parity ok, onset "
  [[ $line == "$expected"* ]] || { echo "    expected: $expected..."; return 1; }
  # Position 0 arrived after the start of its second, not late in it.
  onset=${line#"$expected"}
  [[ $onset =~ ^[0-9]+\ ms$ ]] && [ "${onset% ms}" -lt 500 ] || return 1
  [ "$(grep -E -m 1 -- '^[0-9]{2}:[0-9]{2}:00 ==> [|_-]{60}$' "$work/kolvan" | cut -c1-5)" = \
    "$(date -d "@$minute" +%H:%M)" ]
}
check "the monitor decodes kolvan's first whole minute to the host's local time" decodes_to_local_time

# Before that line, only the port's name and minutes 15 and 45, which carry
# no frame.
quiet_before() {
  local quiet='^[0-9]+ (Virtual serial port: |decoded |no frame in minute [0-9]{2}:(15|45) '
  quiet+='|missing pulses from [0-9]{2}:(15|45):00 to [0-9]{2}:(15|45):58 \(59 seconds\)$)'
  [ "$(sed -n '1,/^[0-9]* \(decoded\|undecodable\) /p' "$work/monitor" | grep -vc -E "$quiet")" -eq 0 ]
}
check "no fault reported before it" quiet_before
# On standard error nothing but, on a host whose clock no time service has
# set (as a build machine's may be), the line that says so.
check "kolvan ends on SIGINT with \"Exit!\", status 0" \
  eval '[ "$kolvan_status" -eq 0 ] && [ "$(tail -n 1 "$work/kolvan")" = "Exit!" ] &&
    ! grep -qv "^kolvan: the host clock is not synchronised (NTP)" "$work/kolvan.err"'
check "the monitor ends on SIGINT with status 0" \
  eval '[ "$monitor_status" -eq 0 ] && [ ! -s "$work/monitor.err" ]'
finish
