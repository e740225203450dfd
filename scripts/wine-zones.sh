#!/usr/bin/env bash
# kolvan.exe's zones under Wine: every zone it accepts, hour by hour from
# 2000 to 2037, as the Windows build converts it (Windows' own zone data,
# here Wine's) against the Linux build's table (the tz database); and
# --zone with a name Windows has no zone for refused with status 2. Ends
# with "N passed, M failed"; a few seconds once Wine is up.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/wine-check.sh
wine_check_start 90

# The same program, tests/zone_table.cpp, on both systems.
tables_agree() {
  "$linux_zone_table" >"$work/zones-linux.txt" 2>/dev/null || return 1
  timeout -k 5 30 "$WINE_LOADER" "$exe_zone_table" >"$work/zones-wine.raw" 2>"$work/zones.err" ||
    { cat "$work/zones-wine.raw" "$work/zones.err"; return 1; }
  console_text "$work/zones-wine.raw" >"$work/zones-wine.txt"
  [ -s "$work/zones-linux.txt" ] &&
    diff "$work/zones-linux.txt" "$work/zones-wine.txt" | head -20 >"$work/zones.diff"
  [ -s "$work/zones-linux.txt" ] && [ ! -s "$work/zones.diff" ] ||
    { cat "$work/zones.diff"; return 1; }
}
check "every zone kolvan.exe accepts equals the tz database hour by hour, 2000-2037" tables_agree

# Each from Windows' own data, none from kolvan's rules.
from_windows() {
  [ "$(console_text "$work/zones.err" | grep -c ": Windows' zone \"")" -eq \
    "$(cut -d ' ' -f 1 "$work/zones-linux.txt" | sort -u | wc -l)" ] ||
    { console_text "$work/zones.err"; return 1; }
}
check "every zone comes from Windows' zone data" from_windows

zone_refused() {
  run_exe --zone=Europe/Atlantis 3 && [ "$run_status" -eq 2 ] && [ ! -s "$work/run.out" ] &&
    console_text "$work/run.err" | head -1 |
      grep -q '^kolvan: --zone=Europe/Atlantis: on Windows kolvan knows only the zones UTC, '
}
check "--zone=Europe/Atlantis: refused with the zones it knows, status 2" zone_refused

finish
