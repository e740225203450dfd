#!/usr/bin/env bash
# The ARM builds run: builds kolvan and its tests for arm64 and armhf with
# Debian's cross compilers (without sanitizers, which don't run under qemu),
# runs every test but the end-to-end ones (ctest -LE e2e) under qemu's user
# emulation, and one real minute of the arm64 kolvan on a pseudo-terminal,
# decoded by the arm64 kolvan-monitor (scripts/pty-minute.sh), beside the arm64
# kolvan --pwm on a fake channel (tests/pwm_e2e_test.cpp). Installs what
# it lacks and registers qemu with the kernel (binfmt_misc).
#
#   scripts/arm-test.sh [arm64|armhf]...   (default both)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/cross-env.sh
. scripts/lib/checks.sh

arches=("${@:-arm64}")
[ $# -eq 0 ] && arches=(arm64 armhf)
ensure_qemu "${arches[@]}"

for arch in "${arches[@]}"; do
  ensure_cross "$arch"
  cmake --workflow --preset "$arch-test"
done

# The arm64 programs' real minutes, once the builds are done: the minute on
# a pseudo-terminal and the PWM pin's end-to-end run (arm64 kolvan and test
# alike under qemu), side by side, since both spend their minutes asleep on
# the real clock. On CI's host, with the armhf build beside them at the
# lowest priority, a second came more than 50 ms late under emulation and
# the minute failed; alone they have only each other to wait for.
case " ${arches[*]} " in *" arm64 "*) ;; *) exit 0 ;; esac
# Each runs once more if it fails (a host stall spoils a minute now and then).
log_dir=$(mktemp -d /tmp/kolvan-arm-test.XXXXXX)
minute_pids=()
trap 'kill "${minute_pids[@]}" 2>/dev/null || true; rm -rf "$log_dir"' EXIT
retry_once "$log_dir/minute" \
  bash scripts/pty-minute.sh build/arm64-test/kolvan build/arm64-test/kolvan-monitor &
minute_pids+=($!)
ctest --test-dir build/arm64-test -R PwmEndToEnd --output-on-failure --repeat until-pass:2 \
  >"$log_dir/pwm" 2>&1 &
minute_pids+=($!)
failed=0
for pid in "${minute_pids[@]}"; do wait "$pid" || failed=1; done
cat "$log_dir/minute" "$log_dir/pwm"
exit "$failed"
