#!/usr/bin/env bash
# The steady carrier's byte rate: kolvan --carrier (JJY: the line held at
# space) on one end of a socat pseudo-terminal pair, the other end read for
# SECONDS (default 10) after a second's start-up, and a table of what came:
# zero bytes a second (the line sends 960), any that weren't zero, and what
# still came after Ctrl-C (the queue is kept to 0.2 s, 192 bytes, and is
# discarded on the way out).
#
#   bench/carrier-rate.sh [SECONDS]
#
# Not a test: it measures; its status only says whether it could.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
ensure_packages cmake g++ make socat
cmake --workflow --preset release >/dev/null

seconds=${1:-10}
work=$(mktemp -d /tmp/kolvan-carrier-rate.XXXXXX)
socat pty,raw,echo=0,link="$work/kolvan" pty,raw,echo=0,link="$work/line" &
pair=$!
trap 'kill "$pair" 2>/dev/null; wait "$pair" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$work/kolvan" ] && [ -e "$work/line" ] && break; sleep 0.1; done

build/release/kolvan --carrier "$work/kolvan" >"$work/console" &
kolvan=$!
sleep 1
timeout 0.2 cat "$work/line" >/dev/null || true     # the start-up's bytes
timeout "$seconds" cat "$work/line" >"$work/bytes" || true
kill -INT "$kolvan"
wait "$kolvan" && status=0 || status=$?
timeout 0.5 cat "$work/line" >"$work/after" || true

bytes=$(stat -c %s "$work/bytes")
nonzero=$(tr -d '\000' <"$work/bytes" | wc -c)
printf '| seconds | zero bytes a second | not zero | bytes after Ctrl-C | status |\n'
printf '|---|---|---|---|---|\n'
printf '| %s | %s | %s | %s | %s |\n' "$seconds" "$(awk "BEGIN { printf \"%.1f\", $bytes / $seconds }")" \
  "$nonzero" "$(stat -c %s "$work/after")" "$status"
