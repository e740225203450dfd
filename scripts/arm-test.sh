#!/usr/bin/env bash
# The ARM builds run: builds kolvan and its tests for arm64 and armhf with
# Debian's cross compilers (without sanitizers, which don't run under qemu),
# runs every test but the end-to-end ones (ctest -LE e2e) under qemu's user
# emulation, then one real minute of the arm64 kolvan on a pseudo-terminal,
# decoded by the arm64 kolvan-monitor (scripts/pty-minute.sh). Installs what
# it lacks and registers qemu with the kernel (binfmt_misc).
#
#   scripts/arm-test.sh [arm64|armhf]...   (default both)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/cross-env.sh

arches=("${@:-arm64}")
[ $# -eq 0 ] && arches=(arm64 armhf)
ensure_qemu "${arches[@]}"
for arch in "${arches[@]}"; do
  ensure_cross "$arch"
  cmake --workflow --preset "$arch-test"
done
if [[ " ${arches[*]} " == *" arm64 "* ]]; then
  bash scripts/pty-minute.sh build/arm64-test/kolvan build/arm64-test/kolvan-monitor
fi
