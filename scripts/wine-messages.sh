#!/usr/bin/env bash
# kolvan.exe under Wine, its messages: the usage line, --version, --help, a
# wrong station, "Can not open COMn" with the name each port is asked for
# by, an offset the local-time conversion can't represent, and the exit
# statuses. Ends with "N passed, M failed"; about half a minute.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/wine-check.sh
wine_check_start 150

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

finish
