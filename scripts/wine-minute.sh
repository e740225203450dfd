#!/usr/bin/env bash
# kolvan.exe under Wine, a minute on the line: on COM3 and on COM12 (a
# socat pair each, kolvan-monitor on the other end) beside the Linux build
# on a pseudo-terminal of its own, started in the same second. Each line
# must decode to the host's local time (COM12 in Japan's zone and a day
# ahead, by the offset), the consoles must match line for line, and a
# SIGINT must end each in order. Ends with "N passed, M failed"; one and a
# half to three and a half minutes (the wait for the next minute, one more
# when that is minute 15 or 45, and the minute itself).
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/wine-check.sh
wine_check_start 300

# Each of COM3 and COM12 runs kolvan.exe with kolvan-monitor on the line's
# other end, and beside it the Linux build on a pseudo-terminal of its own,
# with the same zone and offset, started in the same second so that the two
# consoles must match line for line. COM3 sends the host's local time; COM12
# sends Japan's (TZ=JST-9, also read by the Windows runtime) one day ahead.

# Waits for the first 200 ms of a second, so that a start that takes a few
# hundred milliseconds still reads the time within that second.
start_of_second() {
  local ms
  for _ in $(seq 300); do
    ms=$((10#$(date +%N) / 1000000))
    [ "$ms" -ge 20 ] && [ "$ms" -lt 200 ] && return 0
    sleep 0.01
  done
}

declare -A exe_pid linux_pid same_second
# start_twins NAME PORT ZONE OFFSET: both programs running, the monitor
# listening. When the two "Setting:" lines differ (the starts fell into
# different seconds after all, or the programs disagree) it starts over, up
# to three times; same_second[NAME] says whether they ended up the same.
start_twins() {
  local name=$1 port=$2 zone=$3 offset=$4 attempt zone_env
  if [ -n "$zone" ]; then zone_env=(env "TZ=$zone"); else zone_env=(env -u TZ); fi
  same_second[$name]=0
  for attempt in 1 2 3; do
    if [ "$attempt" -gt 1 ]; then
      kill -INT "${exe_pid[$name]}" "${linux_pid[$name]}"
      await "${exe_pid[$name]}" 10
      await "${linux_pid[$name]}" 10
      kill -INT "$monitor_pid"
      kill "$drain_pid" "$exe_line" "$linux_line"
      await "$monitor_pid" 10
      rm -f "$WINEPREFIX/dosdevices/com$port"
    fi
    make_pair "$name" || return 1
    local exe_line=$pair_pid
    make_pair "$name-linux" || return 1
    local linux_line=$pair_pid
    wine_link_port "$port" "$work/$name-kolvan"
    wine_ports_safe || return 1
    "$monitor" "$work/$name-line" > >(stamp >"$work/$name.monitor") 2>"$work/$name.monitor-err" &
    local monitor_pid=$!
    cat "$work/$name-linux-line" >/dev/null &
    local drain_pid=$!
    started+=("$monitor_pid" "$drain_pid")
    wait_for "$work/$name.monitor" ' Listening on ' 10 || return 1

    start_of_second
    "${zone_env[@]}" "$WINE_LOADER" "$exe" "$port" "$offset" >"$work/$name.exe.out" 2>"$work/$name.exe.err" &
    exe_pid[$name]=$!
    started+=("${exe_pid[$name]}")
    wait_for "$work/$name.exe.out" '^Setting: ' 10
    "${zone_env[@]}" "$linux" "$work/$name-linux-kolvan" "$offset" >"$work/$name.linux.out" \
      2>"$work/$name.linux.err" &
    linux_pid[$name]=$!
    started+=("${linux_pid[$name]}")
    wait_for "$work/$name.linux.out" '^Setting: ' 10
    if [ "$(console_text "$work/$name.exe.out" | head -n 1)" = \
      "$(console_text "$work/$name.linux.out" | head -n 1)" ]; then
      same_second[$name]=1
      return 0
    fi
  done
  return 0
}

frame_regex='^[0-9]{2}:[0-9]{2}:00 ==> [|_-]{60}$'
# A minute sent whole and read back: the console has shown a full frame
# line and the monitor has decoded (or failed to decode) a minute.
minute_done() {
  console_text "$work/$1.exe.out" | grep -Eq -- "$frame_regex" &&
    grep -Eq '^[0-9]+ (decoded|undecodable)' "$work/$1.monitor"
}

# The minute read back is the one that began on the host clock just before
# the monitor reported it, in ZONE with OFFSET added, and the console's first
# full frame line is that minute's; before it the monitor reported nothing
# wrong (no pulse of another length, none missing, none extra).
decodes_to_local_time() {
  local name=$1 zone=$2 offset=$3 line stamp_s minute expected zone_env
  if [ -n "$zone" ]; then zone_env=(env "TZ=$zone"); else zone_env=(env -u TZ); fi
  line=$(grep -m 1 -E '^[0-9]+ (decoded|undecodable)' "$work/$name.monitor") || return 1
  stamp_s=${line%% *}
  minute=$(((stamp_s - 30) / 60 * 60 + offset))
  expected="decoded $(LC_ALL=C "${zone_env[@]}" date -d "@$minute" '+%Y-%m-%d %H:%M %a, day %-j'), parity ok, onset "
  echo "    $name line: ${line#* }"
  [[ ${line#* } == "$expected"* ]] || { echo "    expected: $expected..."; return 1; }
  # Nothing before it but the listening line and, when the wait ran into
  # minute 15 or 45, that minute without pulses: by name, or as 59 seconds
  # without a pulse when the monitor had no minute yet to tell it by.
  local quiet='^[0-9]+ (Listening on |decoded |no frame in minute [0-9]{2}:(15|45) '
  quiet+='|missing pulses from [0-9]{2}:(15|45):00 to [0-9]{2}:(15|45):58 \(59 seconds\)$)'
  [ "$(sed -n '1,/^[0-9]* decoded /p' "$work/$name.monitor" | grep -vc -E "$quiet")" -eq 0 ] ||
    { sed -n '1,/^[0-9]* decoded /p' "$work/$name.monitor" | sed 's/^/    monitor: /'; return 1; }
  local first_frame
  first_frame=$(console_text "$work/$name.exe.out" | grep -m 1 -E -- "$frame_regex")
  [ "${first_frame:0:5}" = "$("${zone_env[@]}" date -d "@$minute" +%H:%M)" ]
}

# The complete lines of a console output: without the line that the
# interrupt cut short and the exit message.
complete_lines() {
  local text
  text=$(console_text "$1"; printf x)
  text=${text%x}
  text=${text%$'\nExit!\n'}
  printf '%s\n' "${text%$'\n'*}"
}

# The Windows and the Linux consoles, line for line, up to the interrupt;
# they hold at least the "Setting:" line, one minute's wait or frame and
# one full frame.
same_console() {
  local name=$1
  [ "${same_second[$name]}" -eq 1 ] || echo "    the \"Setting:\" lines differed at every start"
  complete_lines "$work/$name.exe.out" >"$work/$name.exe.lines"
  complete_lines "$work/$name.linux.out" >"$work/$name.linux.lines"
  if ! cmp -s "$work/$name.exe.lines" "$work/$name.linux.lines"; then
    diff "$work/$name.linux.lines" "$work/$name.exe.lines" | sed 's/^/    /'
    return 1
  fi
  grep -q '^Setting: ' "$work/$name.exe.lines" && grep -Eq -- "$frame_regex" "$work/$name.exe.lines" &&
    [ ! -s "$work/$name.exe.err" ] &&
    ! grep -qv '^kolvan: the host clock is ' "$work/$name.linux.err"  # the host's NTP state aside
}

phase "a minute on COM3 and on COM12, beside the Linux build"
twins_started=1
start_twins com3 3 "" 0 || twins_started=0
start_twins com12 12 JST-9 86400 || twins_started=0
check "kolvan.exe and the Linux build started on COM3 and COM12" [ "$twins_started" -eq 1 ]

if [ "$twins_started" -eq 1 ]; then
  # Up to a minute's wait for the next minute, one more when that is minute
  # 15 or 45, then the minute itself.
  limit=$((SECONDS + 200))
  until minute_done com3 && minute_done com12; do
    [ "$SECONDS" -ge "$limit" ] && break
    sleep 0.5
  done
  # Into the next minute, then Ctrl-C (a SIGINT) to all four.
  sleep 2.5
  kill -INT "${exe_pid[com3]}" "${exe_pid[com12]}" "${linux_pid[com3]}" "${linux_pid[com12]}"
  declare -A exe_status
  for name in com3 com12; do
    await "${exe_pid[$name]}" 15
    exe_status[$name]=$end_status
    await "${linux_pid[$name]}" 15
  done
  phase "checks of the minute"
  check "COM3 line decodes to the host's local time" decodes_to_local_time com3 "" 0
  check "COM12 line decodes to Japan's time a day ahead (TZ=JST-9, offset 86400)" \
    decodes_to_local_time com12 JST-9 86400
  check "COM3 console is the Linux build's, line for line" same_console com3
  check "COM12 console is the Linux build's, line for line" same_console com12
  check "COM3 SIGINT during a minute: \"Exit!\" on its own line, status 0" \
    exited_on_interrupt "$work/com3.exe.out" "${exe_status[com3]}"
  check "COM12 SIGINT during a minute: \"Exit!\" on its own line, status 0" \
    exited_on_interrupt "$work/com12.exe.out" "${exe_status[com12]}"
  check "COM3 console line ends are \"\\r\\n\" throughout" crlf_only "$work/com3.exe.out"
fi

finish
