# Sourced by the check scripts: bounded waits for a line in a file and for a
# process, and the host's second stamped on each line a program writes.

# Each line read, with the host's time in whole seconds before it.
stamp() { while IFS= read -r line; do printf '%(%s)T %s\n' -1 "$line"; done; }

# A file's text, with Windows' "\r\n" line ends made "\n".
console_text() { tr -d '\r' <"$1"; }

# wait_for FILE REGEX SECONDS: true once FILE holds a line matching REGEX.
wait_for() {
  local limit=$((SECONDS + $3))
  until console_text "$1" 2>/dev/null | grep -Eq -- "$2"; do
    [ "$SECONDS" -ge "$limit" ] && return 1
    sleep 0.05
  done
}

# await PID SECONDS: waits for the process to end, killing it when it
# outlives SECONDS; its status is returned and left in $end_status.
await() {
  local limit=$((SECONDS + $2))
  while kill -0 "$1" 2>/dev/null; do
    if [ "$SECONDS" -ge "$limit" ]; then
      kill -KILL "$1" 2>/dev/null
      break
    fi
    sleep 0.05
  done
  wait "$1"
  end_status=$?
  return "$end_status"
}
