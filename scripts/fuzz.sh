#!/usr/bin/env bash
# Fuzzes kolvan's readers of outside input with libFuzzer, AddressSanitizer
# and UBSan (clang): the WAV reader with the envelope, the line monitor's
# core, every station's decoder, the command line, the reading of a
# zone file and of a PWM block's device-tree properties. Each target runs for SECONDS (default 60) from its seed corpus
# in fuzz/corpus/<target>, with a fixed seed, so that a run repeats. What
# a run finds stays in build/fuzz; a crash's input is written to
# build/fuzz/crashes/ and the script fails: copy it to
# fuzz/regressions/<target>/ and the test build replays it.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
ensure_packages cmake make clang libclang-rt-dev libasound2-dev

seconds=${1:-60}
shift || true
targets=("${@:-wav}")
[ $# -eq 0 ] && targets=(wav line_monitor decoder command_line zone_file pwm_board)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/crashes

# fuzz_one TARGET: one target's run, its log in build/fuzz/TARGET.log.
fuzz_one() {
  local target=$1 work=build/fuzz/corpus/$1
  mkdir -p "$work"
  # Recordings need room for a few pulses; the rest stay small.
  local max_len=4096
  [ "$target" = wav ] && max_len=65536
  build/fuzz/fuzz/"$target"_fuzz "$work" "fuzz/corpus/$target" -seed=1 \
    -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=1024 -timeout=20 \
    -artifact_prefix=build/fuzz/crashes/"$target"- >"build/fuzz/$target.log" 2>&1
}

# As many targets at once as there are cores: each is one process on one
# core, so a run takes its SECONDS per batch, not per target.
cores=$(nproc)
failed=0
for ((i = 0; i < ${#targets[@]}; i += cores)); do
  batch=("${targets[@]:i:cores}")
  declare -A pid_of=()
  for target in "${batch[@]}"; do
    echo "== $target: $seconds s"
    fuzz_one "$target" &
    pid_of[$target]=$!
  done
  for target in "${batch[@]}"; do
    log=build/fuzz/$target.log
    if wait "${pid_of[$target]}"; then
      echo "== $target: $(grep -E '^(#[0-9]+ *DONE|Done)' "$log" | tail -n 1)"
    else
      tail -n 40 "$log"
      echo "== $target FAILED: input in build/fuzz/crashes/, log in $log"
      failed=1
    fi
  done
  unset pid_of
done
exit "$failed"
