#!/usr/bin/env bash
# The Windows build, kolvan.exe, under Wine, end to end. Its COM ports are
# pseudo-terminals (a socat pair each: Wine's comN leads to one end,
# kolvan-monitor reads the other), and nothing else:
#   - "kolvan.exe 3" opens COM3 and "kolvan.exe 12" opens \\.\COM12, and the
#     line of each decodes to the host's local time (COM12 in another zone
#     and a day ahead, by the offset);
#   - the usage line, "Can not open COMn", an offset the local-time
#     conversion can't represent, and the exit statuses;
#   - the console lines are those of the Linux build run beside it;
#   - Ctrl-C: a SIGINT to the process, which Wine turns into the console's
#     Ctrl-C event, and the key itself in a terminal (tmux), which reaches
#     Wine the same way; both end with "Exit!" on a line of its own, status 0.
# Installs what it needs, builds both programs, and ends with a line
# "N passed, M failed" and a non-zero status when any check failed. Every
# wait is bounded. After the install and the build it takes one and a half
# to three and a half minutes (the wait for the next minute, one more when
# that is minute 15 or 45, and the minute itself); a watchdog ends it after
# five and a half.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
. scripts/wine-env.sh

phase() { printf '[%3ds] %s\n' "$SECONDS" "$*"; }

. scripts/checks.sh

phase "packages"
timeout 600 bash -c '. scripts/ensure-packages.sh; ensure_packages "$@"' _ \
  "${WINE_PACKAGES[@]}" socat tmux cmake make g++ ||
  { fail "install the packages"; finish; }

phase "build"
exe=build/windows/kolvan.exe
linux=build/wine-linux/kolvan
monitor=build/wine-linux/kolvan-monitor
{ timeout 300 bash scripts/build-windows.sh &&
    timeout 300 cmake -S . -B build/wine-linux -DCMAKE_BUILD_TYPE=Release -DKOLVAN_TESTS=OFF &&
    timeout 300 cmake --build build/wine-linux --target kolvan kolvan-monitor; } \
  >/tmp/kolvan-wine-build.$$.log 2>&1 ||
  { cat /tmp/kolvan-wine-build.$$.log; fail "build kolvan.exe, kolvan and kolvan-monitor"; finish; }
rm -f /tmp/kolvan-wine-build.$$.log

# From here on the run is bounded as a whole: the watchdog ends it.
work=$(mktemp -d /tmp/kolvan-wine.XXXXXX)
started=()  # every process started below, ended by its id
tmux_socket="kolvan-wine-$$"
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  tmux -L "$tmux_socket" kill-server 2>/dev/null
  wine_stop
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'fail "finish within the time limit"; finish' TERM
# The watchdog sleeps in a shell builtin, on a FIFO that never delivers, so
# that ending it leaves nothing behind.
mkfifo "$work/never"
(read -r -t 330 <>"$work/never"; kill -TERM $$) &
started+=($!)

phase "Wine prefix"
wine_find || { fail "find Wine's loader and server"; finish; }
wine_make_prefix "$work/prefix" || { cat "$work/prefix.log"; fail "make a Wine prefix"; finish; }
phase "Wine ready"

# A pseudo-terminal pair: $work/NAME-kolvan for the program, $work/NAME-line
# for the reader. The pid goes to $pair_pid.
make_pair() {
  socat "pty,raw,echo=0,link=$work/$1-kolvan" "pty,raw,echo=0,link=$work/$1-line" &
  pair_pid=$!
  started+=("$pair_pid")
  local i
  for i in $(seq 50); do
    [ -e "$work/$1-kolvan" ] && [ -e "$work/$1-line" ] && return 0
    sleep 0.1
  done
  return 1
}

# Text of a console output file with Windows' "\r\n" line ends made "\n".
console_text() { tr -d '\r' <"$1"; }

# wait_for FILE REGEX SECONDS: true once FILE holds a line matching REGEX.
wait_for() {
  local limit=$((SECONDS + $3))
  until console_text "$1" 2>/dev/null | grep -Eq -- "$2"; do
    [ "$SECONDS" -ge "$limit" ] && return 1
    sleep 0.05
  done
}

# Runs kolvan.exe with the arguments, at most 20 seconds, and leaves its
# output in $work/run.out, $work/run.err and its status in $run_status.
run_exe() {
  wine_ports_safe || return 1
  timeout -k 5 20 "$WINE_LOADER" "$exe" "$@" >"$work/run.out" 2>"$work/run.err"
  run_status=$?
}

# ---------------------------------------------------------------- messages
usage_line='Usage: Kolvan COM_PORT [offset_sec]'
usage_shown() {
  run_exe "$@" && [ "$run_status" -eq 0 ] && [ "$(console_text "$work/run.err")" = "$usage_line" ] &&
    [ ! -s "$work/run.out" ]
}
check "no argument: usage line, status 0" usage_shown
check "three arguments: usage line, status 0" usage_shown 3 0 9

# The options: --version and --help on standard output with status 0, a
# wrong station on standard error with status 2.
version=$(sed -n 's/^project(kolvan VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
version_shown() {
  run_exe --version && [ "$run_status" -eq 0 ] && [ "$(console_text "$work/run.out")" = "kolvan $version" ]
}
help_shown() {
  run_exe --help && [ "$run_status" -eq 0 ] &&
    console_text "$work/run.out" | grep -q '^Usage: kolvan \[--station=NAME\] COM_PORT' &&
    [ ! -s "$work/run.err" ]
}
bad_station_refused() {
  run_exe --station=loran 3 && [ "$run_status" -eq 2 ] &&
    console_text "$work/run.err" | head -1 | grep -q "unknown station 'loran'" && [ ! -s "$work/run.out" ]
}
check "--version: \"kolvan $version\", status 0" version_shown
check "--help: the full usage on standard output, status 0" help_shown
check "--station=loran: the reason and the usage, status 2" bad_station_refused

# Opening a port that has no link fails; with Wine's file trace the name
# asked for shows too. Port 7 is "COM7", port 13 "\\.\COM13", "abc" is 0.
open_refused() {
  local number=$1 name=$2
  shift 2
  WINEDEBUG=-all,trace+file run_exe "$@" || return 1
  local message
  message=$(console_text "$work/run.err" | grep -Ev '^[0-9a-f]{4}:(trace|warn|err|fixme):')
  # The first line exactly, then the system's reason on a line of its own.
  [ "$run_status" -eq 1 ] && [ "$(head -n 1 <<<"$message")" = "Can not open COM$number" ] &&
    [[ $(sed -n 2p <<<"$message") == "kolvan: COM$number: "?* ]] && [ ! -s "$work/run.out" ] &&
    grep -Fq "trace:file:CreateFileW L\"$name\" GENERIC_READ GENERIC_WRITE " "$work/run.err"
}
check "port 7 without a device: opens COM7, \"Can not open COM7\", status 1" open_refused 7 'COM7' 7
check "port 13 without a device: opens \\\\.\\COM13, \"Can not open COM13\", status 1" \
  open_refused 13 '\\\\.\\COM13' 13 -30
check "port abc: \"Can not open COM0\", status 1" open_refused 0 'COM0' abc

# ------------------------------------------------------- running programs
# await PID SECONDS: waits for the process to end, killing it when it
# outlives SECONDS; its status goes to $end_status.
await() {
  local limit=$((SECONDS + $2))
  while kill -0 "$1" 2>/dev/null; do
    if [ "$SECONDS" -ge "$limit" ]; then
      kill -KILL "$1" 2>/dev/null
      break
    fi
    sleep 0.05
  done
  wait "$1"
  end_status=$?
}

# The exit on Ctrl-C: status 0, the line in progress left unfinished (a
# minute's line: time, arrow, then its wait or its glyphs) and "Exit!" on a
# line of its own at the very end. OUT is the console output, STATUS the
# exit status; Windows' "\r\n" line ends are made "\n" first.
exited_on_interrupt() {
  local out=$1 status=$2 text
  text=$(console_text "$out"; printf x)
  text=${text%x}
  [ "$status" -eq 0 ] && [[ $text == *$'\nExit!\n' ]] || return 1
  text=${text%$'\nExit!\n'}
  local unfinished='^[0-9]{2}:[0-9]{2}:[0-9]{2} ==> (Wait [0-9]{2} sec|[|_?-])'
  [[ ${text##*$'\n'} =~ $unfinished ]]
}

# Every line end of a Windows console output is "\r\n", the runtime's text
# mode, the exit message's too.
crlf_only() {
  [ "$(tr -cd '\n' <"$1" | wc -c)" -eq "$(grep -c $'\r$' "$1")" ]
}

# ---------------------------------- Ctrl-C, and the name each port opens by
# kolvan.exe on a port that leads to a pseudo-terminal, with Wine's file
# trace, stopped by a SIGINT while it waits for the minute to begin: the
# port was opened by NAME, and the exit is in order.
opens_and_exits() {
  local port=$1 name=$2 pid
  make_pair "open$port" || return 1
  local line_pid=$pair_pid
  wine_link_port "$port" "$work/open$port-kolvan"
  wine_ports_safe || return 1
  WINEDEBUG=-all,trace+file "$WINE_LOADER" "$exe" "$port" >"$work/open$port.out" 2>"$work/open$port.err" &
  pid=$!
  started+=("$pid")
  wait_for "$work/open$port.out" '==> (Wait|[|_-])' 20
  kill -INT "$pid"
  await "$pid" 15
  kill "$line_pid"
  rm -f "$WINEPREFIX/dosdevices/com$port"
  # The handle that call returned (the trace of the calls beneath it comes
  # in between): not INVALID_HANDLE_VALUE.
  local handle
  handle=$(asked="trace:file:CreateFileW L\"$name\" GENERIC_READ GENERIC_WRITE " awk '
    index($0, ENVIRON["asked"]) { found = 1; next }
    found && /CreateFileW returning/ { print $NF; exit }' "$work/open$port.err")
  echo "    CreateFileW L\"$name\" returned ${handle:-nothing}"
  [[ $handle =~ ^0*[1-9A-E][0-9A-F]*$ ]] || return 1
  [ -z "$(grep -Ev '^[0-9a-f]{4}:(trace|warn|err|fixme):' "$work/open$port.err")" ] &&
    exited_on_interrupt "$work/open$port.out" "$end_status" && crlf_only "$work/open$port.out"
}
check "port 3 opens as COM3; SIGINT while waiting: \"Exit!\" on its own line, status 0" \
  opens_and_exits 3 'COM3'
check "port 12 opens as \\\\.\\COM12; SIGINT while waiting: \"Exit!\" on its own line, status 0" \
  opens_and_exits 12 '\\\\.\\COM12'

# An offset that takes the time before 1970, which Windows' local-time
# conversion can't represent: a message instead of a crash, status 1, and
# nothing on standard output (no "Setting:" line, no pulse).
offset_out_of_range() {
  make_pair "range" || return 1
  local line_pid=$pair_pid
  wine_link_port 5 "$work/range-kolvan"
  run_exe 5 -2147483648
  kill "$line_pid"
  rm -f "$WINEPREFIX/dosdevices/com5"
  [ "$run_status" -eq 1 ] && [ ! -s "$work/run.out" ] &&
    [ "$(console_text "$work/run.err")" = \
      "Can not represent the local time with an offset of -2147483648 sec" ]
}
check "offset -2147483648 on COM5: \"Can not represent...\", status 1, nothing sent" \
  offset_out_of_range

# ------------------------------------------- a minute on the line, twice
# Each of COM3 and COM12 runs kolvan.exe with kolvan-monitor on the line's
# other end, and beside it the Linux build on a pseudo-terminal of its own,
# with the same zone and offset, started in the same second so that the two
# consoles must match line for line. COM3 sends the host's local time; COM12
# sends Japan's (TZ=JST-9, also read by the Windows runtime) one day ahead.

# Monitor lines, each with the host's time in whole seconds before it.
stamp() { while IFS= read -r line; do printf '%(%s)T %s\n' -1 "$line"; done; }

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

# kolvan.exe in a terminal (tmux runs it, and Wine its console host), on
# COM5, and the Ctrl-C key pressed while it waits for the minute: the
# terminal sends SIGINT to the foreground processes, Wine turns it into the
# console's Ctrl-C event, and "Exit!" ends the screen, status 0.
ctrl_c_key_in_terminal() {
  make_pair term || return 1
  wine_link_port 5 "$work/term-kolvan"
  wine_ports_safe || return 1
  local command
  command=$(printf '%q %q 5; echo "exit status $?"; sleep 300' "$WINE_LOADER" "$PWD/$exe")
  tmux -L "$tmux_socket" -f /dev/null new-session -d -x 160 -y 12 "$command" || return 1
  local screen limit=$((SECONDS + 20))
  until tmux -L "$tmux_socket" capture-pane -p | grep -Eq '==> (Wait [0-9]{2} sec|[|_-])'; do
    [ "$SECONDS" -ge "$limit" ] && return 1
    sleep 0.1
  done
  tmux -L "$tmux_socket" send-keys C-c
  limit=$((SECONDS + 15))
  until tmux -L "$tmux_socket" capture-pane -p | grep -q '^exit status'; do
    [ "$SECONDS" -ge "$limit" ] && break
    sleep 0.1
  done
  screen=$(tmux -L "$tmux_socket" capture-pane -p)
  tmux -L "$tmux_socket" kill-server
  rm -f "$WINEPREFIX/dosdevices/com5"
  echo "$screen" | grep -v '^$' | sed 's/^/    | /'
  # The minute's line, cut short; "Exit!" alone on the next; status 0.
  echo "$screen" | grep -v '^$' | tail -n 3 | tr '\n' '\t' |
    grep -Eq $'^[0-9]{2}:[0-9]{2}:[0-9]{2} ==> [^\t]*\tExit!\texit status 0\t$'
}

phase "a minute on COM3 and on COM12, beside the Linux build"
twins_started=1
start_twins com3 3 "" 0 || twins_started=0
start_twins com12 12 JST-9 86400 || twins_started=0
check "kolvan.exe and the Linux build started on COM3 and COM12" [ "$twins_started" -eq 1 ]

check "Ctrl-C key in a terminal: \"Exit!\" on its own line, status 0" ctrl_c_key_in_terminal

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

phase "done"
finish
