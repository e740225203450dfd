# Sourced by the Wine check scripts (scripts/wine-messages.sh, wine-ctrl-c.sh,
# wine-minute.sh, wine-options.sh, wine-zones.sh), from the top of the tree: the packages and the builds,
# a work directory, a watchdog, a Wine prefix whose COM ports lead to
# pseudo-terminals and nowhere else, and the helpers the checks share.
#
#   wine_check_start SECONDS   all of that; the run ends after SECONDS
#
# The prefix is KOLVAN_WINE_PREFIX when that names one already made
# (scripts/wine-test.sh makes one for all three), else a new one; with
# KOLVAN_WINE_BUILT=1 the packages and builds are taken as done.
. scripts/lib/ensure-packages.sh
. scripts/lib/wine-env.sh
. scripts/lib/checks.sh
. scripts/lib/waiting.sh

exe=build/windows/kolvan.exe
# The Linux programs beside it come from the amd64 package's build tree,
# which the packages reuse.
linux=build/package/kolvan
monitor=build/package/kolvan-monitor
# The zones each build accepts, hour by hour (scripts/wine-zones.sh).
exe_zone_table=build/windows/zone_table.exe
linux_zone_table=build/package/zone_table

phase() { printf '[%3ds] %s\n' "$SECONDS" "$*"; }

# The packages, kolvan.exe, and the Linux kolvan and kolvan-monitor beside
# it; false, with the build's output shown, when any of it fails.
wine_check_build() {
  phase "packages"
  timeout 600 bash -c '. scripts/lib/ensure-packages.sh; ensure_packages "$@"' _ \
    "${WINE_PACKAGES[@]}" socat tmux cmake make g++ ||
    { fail "install the packages"; return 1; }
  phase "build"
  { timeout 300 bash scripts/build-windows.sh &&
      timeout 300 cmake --preset package &&
      timeout 300 cmake --build --preset package --target kolvan kolvan-monitor zone_table; } \
    >/tmp/kolvan-wine-build.$$.log 2>&1 ||
    { cat /tmp/kolvan-wine-build.$$.log; fail "build kolvan.exe, kolvan and kolvan-monitor"; return 1; }
  rm -f /tmp/kolvan-wine-build.$$.log
}

wine_check_start() {
  local seconds=$1
  if [ "${KOLVAN_WINE_BUILT:-0}" != 1 ]; then wine_check_build || finish; fi
  # From here on the run is bounded as a whole: the watchdog ends it.
  work=$(mktemp -d /tmp/kolvan-wine.XXXXXX)
  started=()  # every process started below, ended by its id
  tmux_socket="kolvan-wine-$$"
  trap wine_check_cleanup EXIT
  trap 'fail "finish within the time limit"; finish' TERM
  # The watchdog sleeps in a shell builtin, on a FIFO that never delivers,
  # so that ending it leaves nothing behind.
  mkfifo "$work/never"
  (read -r -t "$seconds" <>"$work/never"; kill -TERM $$) &
  started+=($!)
  phase "Wine prefix"
  wine_find || { fail "find Wine's loader and server"; finish; }
  if [ -n "${KOLVAN_WINE_PREFIX:-}" ]; then
    wine_use_prefix "$KOLVAN_WINE_PREFIX" || { fail "take up the Wine prefix"; finish; }
  else
    wine_make_prefix "$work/prefix" || { cat "$work/prefix.log"; fail "make a Wine prefix"; finish; }
  fi
  phase "Wine ready"
}

wine_check_cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  tmux -L "$tmux_socket" kill-server 2>/dev/null
  wine_stop
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}

# A pseudo-terminal pair: $work/NAME-kolvan for the program, $work/NAME-line
# for the reader. The pid goes to $pair_pid.
make_pair() {
  socat "pty,raw,echo=0,link=$work/$1-kolvan" "pty,raw,echo=0,link=$work/$1-line" &
  pair_pid=$!
  started+=("$pair_pid")
  local i
  for i in $(seq 50); do
    [ -e "$work/$1-kolvan" ] && [ -e "$work/$1-line" ] && return 0
    sleep 0.1
  done
  return 1
}

# Runs kolvan.exe with the arguments, at most 20 seconds, and leaves its
# output in $work/run.out, $work/run.err and its status in $run_status.
run_exe() {
  wine_ports_safe || return 1
  timeout -k 5 20 "$WINE_LOADER" "$exe" "$@" >"$work/run.out" 2>"$work/run.err"
  run_status=$?
}

# The exit on Ctrl-C: status 0, the line in progress left unfinished (a
# minute's line: time, arrow, then its wait or its glyphs) and "Exit!" on a
# line of its own at the very end. OUT is the console output, STATUS the
# exit status; Windows' "\r\n" line ends are made "\n" first.
exited_on_interrupt() {
  local out=$1 status=$2 text
  text=$(console_text "$out"; printf x)
  text=${text%x}
  [ "$status" -eq 0 ] && [[ $text == *$'\nExit!\n' ]] || return 1
  text=${text%$'\nExit!\n'}
  local unfinished='^[0-9]{2}:[0-9]{2}:[0-9]{2} ==> (Wait [0-9]{2} sec|[|_?-])'
  [[ ${text##*$'\n'} =~ $unfinished ]]
}

# Every line end of a Windows console output is "\r\n", the runtime's text
# mode, the exit message's too.
crlf_only() {
  [ "$(tr -cd '\n' <"$1" | wc -c)" -eq "$(grep -c $'\r$' "$1")" ]
}
