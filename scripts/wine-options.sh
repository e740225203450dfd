#!/usr/bin/env bash
# kolvan.exe under Wine, the testing options: --time and --minutes on COM3
# (a socat pair, kolvan-monitor on the other end), with TZ=Europe/Berlin set
# as a Windows user might, which the Windows runtime would read as UTC: the
# DCF77 minute across the change to summer time must still be German time,
# and the run must end by itself. Then the refusals Windows has of its own:
# a zone kolvan carries no rules for, --wait-sync and --pwm. Ends with "N passed,
# M failed"; about a minute and a half.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/wine-check.sh
wine_check_start 200

# Two seconds before 01:59 CET on the day summer time begins, one frame:
# it carries 03:00 CEST with the change announced, and kolvan.exe ends
# after it as Ctrl-C would end it.
chosen_minute() {
  make_pair options || return 1
  wine_link_port 3 "$work/options-kolvan"
  wine_ports_safe || return 1
  "$monitor" --station=dcf77 "$work/options-line" >"$work/options.monitor" 2>&1 &
  local monitor_pid=$!
  started+=("$monitor_pid")
  wait_for "$work/options.monitor" '^Listening on ' 10 || return 1
  TZ=Europe/Berlin timeout -k 5 100 "$WINE_LOADER" "$exe" --station=dcf77 \
    --time=2027-03-28T01:58:58 --minutes=1 3 >"$work/options.out" 2>"$work/options.err"
  local status=$?
  wait_for "$work/options.monitor" '^decoded ' 5
  kill -INT "$monitor_pid"
  await "$monitor_pid" 10
  echo "    console: $(console_text "$work/options.out" | tail -n 3 | head -n 1)"
  echo "    monitor: $(grep -m 1 -E '^(decoded|undecodable)' "$work/options.monitor")"
  [ "$status" -eq 0 ] && crlf_only "$work/options.out" &&
    [ "$(console_text "$work/options.out" | head -n 1)" = "Setting: 2027/03/28 01:58:58" ] &&
    console_text "$work/options.out" | grep -q '^01:59:00 ==> .* = 03:00 CEST$' &&
    [ "$(console_text "$work/options.out" | tail -n 2)" = $'\nExit!' ] &&
    grep -q '^decoded 2027-03-28 03:00 Sun CEST, day 87, parity ok, onset .*, summer time change announced$' \
      "$work/options.monitor"
}
check "--time and --minutes on COM3: 03:00 CEST decoded, the run ends by itself with Exit!, status 0" \
  chosen_minute

# refused EXPECTED_LINE ARGS...: status 2, the line, then the usage.
refused() {
  local line=$1
  shift
  run_exe "$@" && [ "$run_status" -eq 2 ] && [ ! -s "$work/run.out" ] &&
    [ "$(console_text "$work/run.err" | head -n 1)" = "$line" ] &&
    console_text "$work/run.err" | grep -q '^Usage: kolvan '
}
check "--zone=Europe/Paris: only the zones kolvan carries rules for, status 2" refused \
  "kolvan: --zone=Europe/Paris: on Windows kolvan knows only the zones UTC, Europe/London, Europe/Berlin, Asia/Shanghai, Asia/Tokyo, America/New_York, America/Chicago, America/Denver, America/Los_Angeles" \
  --zone=Europe/Paris 3
check "--wait-sync: refused, status 2" refused \
  "kolvan: --wait-sync: this system doesn't say whether its clock is synchronised" --wait-sync 3
check "--pwm: a PWM pin needs Linux, status 2" refused \
  "kolvan: --pwm keys a board's PWM pin through Linux's /sys/class/pwm; Windows has no such interface" \
  --pwm=pwmchip0:0
finish
