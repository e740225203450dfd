#!/usr/bin/env bash
# The ARM builds run: builds kolvan and its tests for arm64 and armhf with
# Debian's cross compilers (without sanitizers, which don't run under qemu)
# and runs every test but the end-to-end ones (ctest -LE e2e) under qemu's
# user emulation; armhf's on qemu's ARM1176, the CPU of the Raspberry Pi 1
# and Zero, which faults on any ARMv7 instruction. Then it builds the armhf
# package, checks with `readelf -A` that its programs ask for nothing past
# ARMv6 (no ARMv7, no Thumb-2, VFPv2), and runs one real minute on a
# pseudo-terminal, decoded by kolvan-monitor (scripts/pty-minute.sh), and
# kolvan --pwm on a fake channel (tests/pwm_e2e_test.cpp) with the arm64
# build's programs and with the packaged armhf ones on the ARM1176. Installs
# what it lacks and registers qemu with the kernel (binfmt_misc).
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

log_dir=$(mktemp -d /tmp/kolvan-arm-test.XXXXXX)
minute_pids=()
trap 'kill "${minute_pids[@]}" 2>/dev/null || true; rm -rf "$log_dir"' EXIT

# The armhf package's programs, as a Raspberry Pi installs them.
case " ${arches[*]} " in
  *" armhf "*)
    ensure_packages dpkg-dev file
    cmake --workflow --preset package-armhf >"$log_dir/package" 2>&1 || { cat "$log_dir/package"; exit 1; }
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package-armhf/CMakeCache.txt)
    dpkg-deb -x "build/packages/kolvan_${version}_armhf.deb" "$log_dir/armhf"
    armv6_only() {
      local attributes
      attributes=$(arm-linux-gnueabi-readelf -A "$1")
      echo "$attributes" | grep -E 'Tag_(CPU_arch|THUMB_ISA_use|FP_arch):' | sed "s|^ *|    ${1##*/}: |"
      grep -qx '  Tag_CPU_arch: v6KZ' <<<"$attributes" &&
        grep -qx '  Tag_THUMB_ISA_use: Thumb-1' <<<"$attributes" &&
        grep -qx '  Tag_FP_arch: VFPv2' <<<"$attributes"
    }
    for program in kolvan kolvan-monitor; do
      check "readelf -A: the packaged armhf $program is ARMv6 (v6KZ, Thumb-1, VFPv2)" \
        armv6_only "$log_dir/armhf/usr/bin/$program"
    done
    # Past 2038: every call of kolvan's own code into glibc that takes a
    # time is its 64-bit one (_TIME_BITS=64): no symbol S is called whose
    # 64-bit twin (__S64, __S_time64, __S64_time64, __localtime64_r for
    # localtime_r) libc.a has.
    time64_only() {
      local twins calls call found=0
      twins=$(arm-linux-gnueabi-nm --defined-only /usr/arm-linux-gnueabi/lib/libc.a 2>/dev/null |
        awk 'NF == 3 && $3 ~ /^__.*64/ { print $3 }' | sort -u)
      calls=$(find "${1:-build/package-armhf}" -path '*/CMakeFiles/kolvan*' -name '*.o' -print0 |
        xargs -0 arm-linux-gnueabi-nm -u | awk 'NF == 2 { print $2 }' | sort -u)
      for call in $calls; do
        if grep -qxE "__(${call}(64|_time64|64_time64)|${call%_r}64_r)" <<<"$twins"; then
          echo "    32-bit time: $call"
          found=1
        fi
      done
      [ -n "$calls" ] && [ "$found" -eq 0 ]
    }
    check "kolvan's own code calls glibc's 64-bit time functions only" time64_only
    [ "$failed" -eq 0 ] || exit 1
    ;;
esac

# The real minutes, once the builds are done and side by side, since they
# spend them asleep on the real clock: the minute on a pseudo-terminal and
# the PWM pin's end-to-end run (kolvan and the test alike under qemu). On
# CI's host, with a build beside them at the lowest priority, a second came
# more than 50 ms late under emulation and the minute failed; alone they
# have only each other to wait for. Each runs once more if it fails (a host
# stall spoils a minute now and then).
for arch in "${arches[@]}"; do
  if [ "$arch" = armhf ]; then
    bin=$log_dir/armhf/usr/bin under_test=(env QEMU_CPU=arm1176 KOLVAN_UNDER_TEST="$log_dir/armhf/usr/bin/kolvan")
  else
    bin=build/$arch-test under_test=()
  fi
  retry_once "$log_dir/minute-$arch" \
    "${under_test[@]}" bash scripts/pty-minute.sh "$bin/kolvan" "$bin/kolvan-monitor" &
  minute_pids+=($!)
  "${under_test[@]}" ctest --test-dir "build/$arch-test" -R PwmEndToEnd --output-on-failure \
    --repeat until-pass:2 >"$log_dir/pwm-$arch" 2>&1 &
  minute_pids+=($!)
done
status=0
for pid in "${minute_pids[@]}"; do wait "$pid" || status=1; done
for arch in "${arches[@]}"; do
  if [ "$arch" = armhf ]; then echo "== armhf: the packaged programs on qemu's ARM1176"; else echo "== $arch"; fi
  cat "$log_dir/minute-$arch" "$log_dir/pwm-$arch"
done
exit "$status"
