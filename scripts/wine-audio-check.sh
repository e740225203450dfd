#!/usr/bin/env bash
# The Windows build's sound output under Wine, end to end: kolvan.exe --audio
# plays through Wine's PulseAudio driver into null sinks of servers of its
# own, and the Linux kolvan-monitor decodes every station from their monitor
# sources (scripts/audio-check.sh, with kolvan.exe in kolvan's place).
#
#   scripts/wine-audio-check.sh [STATION...]
#
# Installs what it needs and builds both programs; then 75 seconds, or two
# minutes more when a station needs its second minute, and as long again
# when one is tried once more.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/wine-env.sh
. scripts/lib/null-sink.sh
ensure_packages "${WINE_PACKAGES[@]}" cmake make g++ libasound2-dev \
  "${NULL_SINK_PACKAGES[@]}"
bash scripts/build-windows.sh >/dev/null
cmake --preset package >/dev/null
cmake --build --preset package --target kolvan-monitor >/dev/null
wine_find || { echo "FAIL - Wine's loader or server is missing"; exit 1; }
dir=$(mktemp -d /tmp/kolvan-wine-audio.XXXXXX)
trap 'wine_stop; rm -rf "$dir"' EXIT
wine_make_prefix "$dir/prefix" || { cat "$dir/prefix.log"; exit 1; }
# Wine's PulseAudio driver keeps only a few of its 10 ms periods queued in
# the server, so a driver thread woken a few milliseconds late on a busy
# host leaves a hole in the sound (measured here: one or two a minute, a few
# ms each, enough to spoil a minute's symbol). libpulse's own variable asks
# the server to keep 100 ms queued for it, which made them rare, and a
# station may take a second minute to decode.
# (More than 100 ms made it worse: the sound came garbled.) A station whose
# minutes were all spoilt is tried once more (scripts/audio-check.sh).
export PULSE_LATENCY_MSEC=100 AUDIO_CHECK_MINUTES=2
bash scripts/audio-check.sh scripts/wine-kolvan.sh build/package/kolvan-monitor "$@"
