#!/usr/bin/env bash
# The timing benchmark for the sound card: builds the release, starts a
# PulseAudio server of its own with a null sink (scripts/lib/null-sink.sh), runs
# the real kolvan --audio (offset 0) into it for MINUTES whole frames
# (default 3), records the sink's monitor source through ALSA and reads it
# through the monitor's envelope and core, and prints the same table as
# bench/run.sh (see README, "Timing").
#
#   bench/audio-run.sh [MINUTES]
#   BUSY=1 bench/audio-run.sh [MINUTES]   with every core kept busy meanwhile
#
# Not a test: it measures, and its exit status only says whether it got the
# frames it asked for.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/null-sink.sh
ensure_packages cmake g++ make libasound2-dev "${NULL_SINK_PACKAGES[@]}"
cmake --workflow --preset release >/dev/null

minutes=${1:-3}
dir=$(mktemp -d /tmp/kolvan-audio-bench.XXXXXX)
. scripts/lib/busy.sh
stop_all() {
  stop_busy
  null_sink_stop
  rm -rf "$dir"
}
trap stop_all EXIT
null_sink_start "$dir" || { cat "$dir/pulse.log" >&2; exit 1; }
echo "$(uname -srm), $(nproc) cores, $(date -u "+%Y-%m-%d %H:%M UTC"), load average $(cut -d" " -f1-3 /proc/loadavg), $(pulseaudio --version)"
build/release/kolvan-bench --audio="$NULL_SINK_MONITOR" build/release/kolvan "$minutes" \
  "$label, sound through a PulseAudio null sink"
