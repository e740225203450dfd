#!/usr/bin/env bash
# The Windows build, kolvan.exe, under Wine, end to end, in one Wine prefix
# whose COM ports are pseudo-terminals and nothing else: its messages
# (scripts/wine-messages.sh), its ports and Ctrl-C (scripts/wine-ctrl-c.sh),
# a minute on the line beside the Linux build (scripts/wine-minute.sh), the
# testing options --time and --minutes (scripts/wine-options.sh), and the
# zones from Windows' own data against the tz database
# (scripts/wine-zones.sh); each can also be run on its own. Installs what
# they need, builds both programs, and ends with a line "N passed, M
# failed" over all five and a non-zero status when any check failed. Every
# wait is bounded: after the install and the build, two to four minutes.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/wine-check.sh

wine_check_build || finish
prefix_dir=$(mktemp -d /tmp/kolvan-wine-prefix.XXXXXX)
trap 'wine_stop; rm -rf "$prefix_dir"' EXIT
phase "Wine prefix"
wine_find && wine_make_prefix "$prefix_dir/prefix" ||
  { cat "$prefix_dir/prefix.log"; fail "make a Wine prefix"; finish; }
wine_stop

# Two lanes, each on a prefix of its own (a server each): the minute on the
# line, and the others one after another on a copy. Both lanes spend
# their time asleep on the real clock; their reports are shown in order.
cp -a "$prefix_dir/prefix" "$prefix_dir/prefix-b"
export KOLVAN_WINE_BUILT=1
run_part() { KOLVAN_WINE_PREFIX=$1 bash "scripts/wine-$2.sh"; }
(for part in messages ctrl-c options zones; do
  run_part "$prefix_dir/prefix-b" "$part" >"$prefix_dir/$part.log" 2>&1
done) &
other_lane=$!
retry_once "$prefix_dir/minute.log" run_part "$prefix_dir/prefix" minute
wait "$other_lane"

total_passed=0 total_failed=0
for part in messages ctrl-c minute options zones; do
  cat "$prefix_dir/$part.log"
  read -r part_passed _ part_failed _ < <(tail -n 1 "$prefix_dir/$part.log")
  [[ $part_passed =~ ^[0-9]+$ && $part_failed =~ ^[0-9]+$ ]] || part_passed=0 part_failed=1
  total_passed=$((total_passed + part_passed)) total_failed=$((total_failed + part_failed))
done
passed=$total_passed failed=$total_failed
finish
