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
