#!/usr/bin/env bash
# Runs kolvan on a virtual serial port: a pseudo-terminal pair made by socat,
# with no hardware. kolvan keys one end; the other end is drained. Ctrl-C ends
# it. Installs the packages it needs and builds the program first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages cmake g++ make socat
cmake --workflow --preset release >/dev/null

dir=$(mktemp -d)
socat pty,raw,echo=0,link="$dir/kolvan" pty,raw,echo=0,link="$dir/receiver" &
socat_pid=$!
trap 'kill $socat_pid $drain_pid 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 50); do [ -e "$dir/receiver" ] && break; sleep 0.1; done
cat "$dir/receiver" >/dev/null &
drain_pid=$!

echo "Virtual serial port: $dir/kolvan (Ctrl-C to stop)"
build/release/kolvan "$dir/kolvan" "$@" || true
