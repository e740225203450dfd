# Sourced by the check scripts: one line a check ("ok - ..." or "FAIL - ..."),
# and at the end "N passed, M failed" with a status that says whether every
# check passed (and at least one ran).
passed=0 failed=0
pass() { passed=$((passed + 1)); echo "ok - $*"; }
fail() { failed=$((failed + 1)); echo "FAIL - $*"; }
# check DESCRIPTION COMMAND...: one check, passed when COMMAND succeeds.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit
}

# retry_once LOG COMMAND...: COMMAND with its output in LOG and, when it
# fails, once more: a host stall of 50 ms or more, seen now and then on a
# shared host, spoils a real-time minute. LOG then holds the failed try
# first, so that its last line is the second try's; the status is the last
# try's, so a fault still fails.
retry_once() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 && return 0
  local first
  first=$(cat "$log")
  { printf '%s\n== that try failed; once more:\n' "$first"; "$@"; } >"$log" 2>&1
}
