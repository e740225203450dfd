#!/usr/bin/env bash
# The ARM builds run: builds kolvan and its tests for arm64 and armhf with
# Debian's cross compilers (without sanitizers, which don't run under qemu),
# runs every test but the end-to-end ones (ctest -LE e2e) under qemu's user
# emulation, then one real minute of the arm64 kolvan on a pseudo-terminal,
# decoded by the arm64 kolvan-monitor (scripts/pty-minute.sh), beside the arm64
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
  # The minute on a pseudo-terminal and the PWM pin's end-to-end run on its
  # fake channel (arm64 kolvan and test alike under qemu), side by side:
  # both spend their minutes asleep on the real clock.
  log=$(mktemp /tmp/kolvan-arm-pwm.XXXXXX)
  ctest --test-dir build/arm64-test -R PwmEndToEnd --output-on-failure >"$log" 2>&1 &
  pwm_pid=$!
  minute_status=0 pwm_status=0
  bash scripts/pty-minute.sh build/arm64-test/kolvan build/arm64-test/kolvan-monitor ||
    minute_status=$?
  wait "$pwm_pid" || pwm_status=$?
  cat "$log"
  rm -f "$log"
  [ "$minute_status" -eq 0 ] && [ "$pwm_status" -eq 0 ] || exit 1
fi
