#!/usr/bin/env bash
# Runs the Windows build on a device path, the way the Linux build runs on
# one, for programs that start kolvan by path (the benchmark's Wine mode,
# WINE=1 bench/run.sh):
#
#   scripts/wine-kolvan.sh DEVICE [offset_sec]
#   scripts/wine-kolvan.sh --OPTION... [offset_sec]     (e.g. --audio)
#
# DEVICE must be a pseudo-terminal. It becomes COM3 of the Wine prefix that
# scripts/lib/wine-env.sh made (WINEPREFIX and the rest in the environment), and
# build/windows/kolvan.exe takes this script's place under its process id,
# so that signals and process statistics reach it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib/wine-env.sh"

if [ $# -lt 1 ]; then
  echo "Usage: scripts/wine-kolvan.sh DEVICE [offset_sec]" >&2
  echo "       scripts/wine-kolvan.sh --OPTION... [offset_sec]" >&2
  exit 2
fi
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/dosdevices" ]; then
  echo "wine-kolvan: no Wine prefix; make one with wine_make_prefix (scripts/lib/wine-env.sh)" >&2
  exit 1
fi
wine_find || { echo "wine-kolvan: Wine's loader or server is missing" >&2; exit 1; }
# With options first (--audio, --station...), the arguments go as they are.
if [[ $1 == --* ]]; then
  wine_unlink_ports
  exec "$WINE_LOADER" "$root/build/windows/kolvan.exe" "$@"
fi
[ $# -le 2 ] || { echo "Usage: scripts/wine-kolvan.sh DEVICE [offset_sec]" >&2; exit 2; }
wine_link_port 3 "$1"
wine_ports_safe || exit 1
shift
exec "$WINE_LOADER" "$root/build/windows/kolvan.exe" 3 "$@"
