#!/usr/bin/env bash
# How long the host keeps a sleeping program from waking: sleeps 10 ms over
# and over at normal priority while COMMAND runs (or for SECONDS when none
# is given), and prints each wake-up more than THRESHOLD ms late (default
# 20; kolvan drops a pulse that would start more than 50 ms into its second)
# and then the worst. Shows whether a load is safe beside the real-time
# checks:
#
#   bench/host-stalls.sh 60                                   # the host alone
#   bench/host-stalls.sh 0 nice -n 19 bash scripts/fuzz.sh 20 # beside a load
#
# Not a test: it measures. The loop sleeps in bash itself (a read that
# times out on a FIFO nothing writes to), so no fork adds to a reading.
set -uo pipefail
seconds=${1:?usage: bench/host-stalls.sh SECONDS [COMMAND...]}
shift
threshold_us=$((${THRESHOLD:-20} * 1000))

fifo_dir=$(mktemp -d /tmp/kolvan-stalls.XXXXXX)
mkfifo "$fifo_dir/never"
exec {never}<>"$fifo_dir/never"
rm -rf "$fifo_dir"

load_pid=
if [ $# -gt 0 ]; then
  "$@" >/dev/null 2>&1 &
  load_pid=$!
fi
running() {
  if [ -n "$load_pid" ]; then kill -0 "$load_pid" 2>/dev/null
  else [ "$SECONDS" -lt "$seconds" ]; fi
}

worst_us=0 wakes=0 late=0
while running; do
  before=${EPOCHREALTIME/./}
  read -r -t 0.01 -u "$never"
  over_us=$((${EPOCHREALTIME/./} - before - 10000))
  wakes=$((wakes + 1))
  ((over_us > worst_us)) && worst_us=$over_us
  if ((over_us > threshold_us)); then
    late=$((late + 1))
    printf '%(%H:%M:%S)T  %d ms late\n' -1 $((over_us / 1000))
  fi
done
[ -n "$load_pid" ] && wait "$load_pid"
printf '%d wake-ups, %d more than %d ms late, the worst %d.%d ms late\n' \
  "$wakes" "$late" $((threshold_us / 1000)) $((worst_us / 1000)) $((worst_us % 1000 / 100))
