#!/usr/bin/env bash
# Builds kolvan with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test, on pseudo-terminals only. Installs the packages it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages cmake g++ make googletest libgtest-dev socat faketime libfaketime tzdata
cmake --workflow --preset test
