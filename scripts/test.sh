#!/usr/bin/env bash
# Builds kolvan with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test, on pseudo-terminals only (and, for the sound card, null sinks
# of PulseAudio servers the tests start). Installs the packages it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/null-sink.sh
ensure_packages cmake g++ make googletest libgtest-dev socat faketime libfaketime tzdata \
  libasound2-dev "${NULL_SINK_PACKAGES[@]}"
cmake --workflow --preset test
