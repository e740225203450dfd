#!/usr/bin/env bash
# kolvan.exe under Wine on ports that lead to pseudo-terminals: COM3 opens
# as "COM3" and COM12 as "\\.\COM12", and Ctrl-C ends it in order, both as
# a SIGINT to the process (Wine turns it into the console's Ctrl-C event)
# and as the key itself in a terminal (tmux). Ends with "N passed, M
# failed"; about half a minute.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/wine-check.sh
wine_check_start 150

# kolvan.exe on a port that leads to a pseudo-terminal, with Wine's file
# trace, stopped by a SIGINT while it waits for the minute to begin: the
# port was opened by NAME, and the exit is in order.
opens_and_exits() {
  local port=$1 name=$2 pid
  make_pair "open$port" || return 1
  local line_pid=$pair_pid
  wine_link_port "$port" "$work/open$port-kolvan"
  wine_ports_safe || return 1
  WINEDEBUG=-all,trace+file "$WINE_LOADER" "$exe" "$port" >"$work/open$port.out" 2>"$work/open$port.err" &
  pid=$!
  started+=("$pid")
  wait_for "$work/open$port.out" '==> (Wait|[|_-])' 20
  kill -INT "$pid"
  await "$pid" 15
  kill "$line_pid"
  rm -f "$WINEPREFIX/dosdevices/com$port"
  # The handle that call returned (the trace of the calls beneath it comes
  # in between): not INVALID_HANDLE_VALUE.
  local handle
  handle=$(asked="trace:file:CreateFileW L\"$name\" GENERIC_READ GENERIC_WRITE " awk '
    index($0, ENVIRON["asked"]) { found = 1; next }
    found && /CreateFileW returning/ { print $NF; exit }' "$work/open$port.err")
  echo "    CreateFileW L\"$name\" returned ${handle:-nothing}"
  [[ $handle =~ ^0*[1-9A-E][0-9A-F]*$ ]] || return 1
  [ -z "$(grep -Ev '^[0-9a-f]{4}:(trace|warn|err|fixme):' "$work/open$port.err")" ] &&
    exited_on_interrupt "$work/open$port.out" "$end_status" && crlf_only "$work/open$port.out"
}
check "port 3 opens as COM3; SIGINT while waiting: \"Exit!\" on its own line, status 0" \
  opens_and_exits 3 'COM3'
check "port 12 opens as \\\\.\\COM12; SIGINT while waiting: \"Exit!\" on its own line, status 0" \
  opens_and_exits 12 '\\\\.\\COM12'

# kolvan.exe in a terminal (tmux runs it, and Wine its console host), on
# COM5, and the Ctrl-C key pressed while it waits for the minute: the
# terminal sends SIGINT to the foreground processes, Wine turns it into the
# console's Ctrl-C event, and "Exit!" ends the screen, status 0.
ctrl_c_key_in_terminal() {
  make_pair term || return 1
  wine_link_port 5 "$work/term-kolvan"
  wine_ports_safe || return 1
  local command
  command=$(printf '%q %q 5; echo "exit status $?"; sleep 300' "$WINE_LOADER" "$PWD/$exe")
  tmux -L "$tmux_socket" -f /dev/null new-session -d -x 160 -y 12 "$command" || return 1
  local screen limit=$((SECONDS + 20))
  until tmux -L "$tmux_socket" capture-pane -p | grep -Eq '==> (Wait [0-9]{2} sec|[|_-])'; do
    [ "$SECONDS" -ge "$limit" ] && return 1
    sleep 0.1
  done
  tmux -L "$tmux_socket" send-keys C-c
  limit=$((SECONDS + 15))
  until tmux -L "$tmux_socket" capture-pane -p | grep -q '^exit status'; do
    [ "$SECONDS" -ge "$limit" ] && break
    sleep 0.1
  done
  screen=$(tmux -L "$tmux_socket" capture-pane -p)
  tmux -L "$tmux_socket" kill-server
  rm -f "$WINEPREFIX/dosdevices/com5"
  echo "$screen" | grep -v '^$' | sed 's/^/    | /'
  # The minute's line, cut short; "Exit!" alone on the next; status 0.
  echo "$screen" | grep -v '^$' | tail -n 3 | tr '\n' '\t' |
    grep -Eq $'^[0-9]{2}:[0-9]{2}:[0-9]{2} ==> [^\t]*\tExit!\texit status 0\t$'
}

check "Ctrl-C key in a terminal: \"Exit!\" on its own line, status 0" ctrl_c_key_in_terminal
finish
