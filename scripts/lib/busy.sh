# Sourced by the benchmarks: with BUSY=1 in the environment, keeps every
# core busy with a `yes >/dev/null` each, at normal priority, until
# stop_busy; $label says which it was, for the table's heading.
busy_pids=()
label="idle"
stop_busy() { for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
if [ "${BUSY:-0}" != 0 ]; then
  cores=$(nproc)
  for _ in $(seq "$cores"); do
    yes >/dev/null &
    busy_pids+=($!)
  done
  label="busy: $cores x yes >/dev/null on $cores cores"
fi
