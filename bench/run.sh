#!/usr/bin/env bash
# The timing benchmark: builds the release, runs the real kolvan on a virtual
# serial port for MINUTES whole frames (default 3), reads the line back
# through the monitor's core and prints a table (see README, "Timing").
#
#   bench/run.sh [MINUTES]            on an otherwise idle machine
#   BUSY=1 bench/run.sh [MINUTES]     with every core kept busy meanwhile by
#                                     a `yes >/dev/null` each, at normal priority
#   WINE=1 bench/run.sh [MINUTES]     the Windows build, kolvan.exe, under Wine
#                                     on the same virtual port (with BUSY=1 too)
#   PWM=1 bench/run.sh [MINUTES]      kolvan --pwm on a fake PWM channel whose
#                                     duty_cycle writes are timed as they arrive
#                                     (with BUSY=1 too)
#
# Not a test: it measures, and its exit status only says whether it got the
# frames it asked for.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
ensure_packages cmake g++ make
cmake --workflow --preset release >/dev/null

minutes=${1:-3}
. scripts/lib/busy.sh
trap stop_busy EXIT
if [ "${WINE:-0}" != 0 ]; then
  # The cross build, in a throw-away Wine prefix whose COM3 the wrapper
  # links to the benchmark's virtual port (scripts/lib/wine-env.sh).
  . scripts/lib/wine-env.sh
  ensure_packages "${WINE_PACKAGES[@]}"
  bash scripts/build-windows.sh >/dev/null
  wine_find || { echo "bench: Wine's loader or server is missing" >&2; exit 1; }
  wine_dir=$(mktemp -d /tmp/kolvan-bench-wine.XXXXXX)
  trap 'stop_busy; wine_stop; rm -rf "$wine_dir"' EXIT
  wine_make_prefix "$wine_dir/prefix" || { cat "$wine_dir/prefix.log" >&2; exit 1; }
  echo "$(uname -srm), $(nproc) cores, $(date -u "+%Y-%m-%d %H:%M UTC"), load average $(cut -d" " -f1-3 /proc/loadavg), $("$WINE_LOADER" --version)"
  status=0
  build/release/kolvan-bench scripts/wine-kolvan.sh "$minutes" "$label, kolvan.exe under Wine" || status=$?
  exit "$status"
fi
echo "$(uname -srm), $(nproc) cores, $(date -u "+%Y-%m-%d %H:%M UTC"), load average $(cut -d" " -f1-3 /proc/loadavg)"
if [ "${PWM:-0}" != 0 ]; then
  exec build/release/kolvan-pwm-bench build/release/kolvan "$minutes" "$label"
fi
build/release/kolvan-bench build/release/kolvan "$minutes" "$label"
