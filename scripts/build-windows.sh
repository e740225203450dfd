#!/usr/bin/env bash
# Cross-compiles kolvan.exe with MinGW-w64 into build/windows/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
ensure_packages cmake make g++-mingw-w64-x86-64
cmake --workflow --preset windows
