#!/usr/bin/env bash
# The ARM builds run: builds kolvan and its tests for arm64 and armhf with
# Debian's cross compilers (without sanitizers, which don't run under qemu),
# runs every test but the end-to-end ones (ctest -LE e2e) under qemu's user
# emulation, then one real minute of the arm64 kolvan on a pseudo-terminal,
# decoded by the arm64 kolvan-monitor (scripts/pty-minute.sh), and the arm64
# kolvan --pwm on a fake channel (tests/pwm_e2e_test.cpp). Installs what
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
  # The PWM pin's end-to-end run on its fake channel, arm64 kolvan and test
  # alike under qemu, on the real clock: up to two minutes.
  ctest --test-dir build/arm64-test -R PwmEndToEnd --output-on-failure
fi
