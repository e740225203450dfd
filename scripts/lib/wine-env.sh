# Sourced by the Wine scripts: runs the Windows build, kolvan.exe, under
# Debian's Wine in a throw-away prefix whose COM ports lead to
# pseudo-terminals and nowhere else.
#
# Each time a prefix's server starts, Wine's mount manager links a comN for
# every /dev/ttyS* it finds (com1 -> /dev/ttyS0, the machine's own console on
# many hosts), and hiding one in the registry only moves the device to the
# next free number. So the mount manager is disabled here, every comN link is
# removed, and wine_link_port adds links to pseudo-terminals only;
# wine_ports_safe checks that before every run of kolvan.exe. Wine opens a
# COM device only when a program does.

# Wine's 64-bit loader (and the library it brings) is enough for a console
# program; nothing Wine only recommends (fonts, sound, GL) is needed.
WINE_PACKAGES=(wine64)

# Finds the loader and the server: Debian keeps them in /usr/lib/wine, and
# only the `wine` package puts commands on the PATH.
wine_find() {
  WINE_LOADER=$(command -v wine64 || echo /usr/lib/wine/wine64)
  WINE_SERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  [ -x "$WINE_LOADER" ] && [ -x "$WINE_SERVER" ]
}

# Makes a 64-bit prefix in DIR (new) and starts its server, which stays up
# until wine_stop, so that every run finds it ready. No window, no mono or
# gecko installer, no debug output. Bounded in time; false on failure, with
# Wine's messages in DIR.log.
wine_make_prefix() {
  wine_prefix_env "$1"
  mkdir -p "$WINEPREFIX" &&
    timeout 30 "$WINE_SERVER" --persistent >"$1.log" 2>&1 &&
    timeout 180 "$WINE_LOADER" wineboot --init >>"$1.log" 2>&1 &&
    wine_unlink_ports
}

# Takes up a prefix that wine_make_prefix made before, in another script,
# and starts its server again.
wine_use_prefix() {
  wine_prefix_env "$1"
  [ -d "$WINEPREFIX/drive_c" ] && timeout 30 "$WINE_SERVER" --persistent >>"$1.log" 2>&1 &&
    wine_unlink_ports
}

wine_prefix_env() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY=
  export WINEDLLOVERRIDES='mscoree,mshtml=;mountmgr.sys=d'
}

# Ends every Wine process of the prefix (all of them started from here) and
# its server.
wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  timeout 30 "$WINE_SERVER" --kill >/dev/null 2>&1
  timeout 30 "$WINE_SERVER" --wait >/dev/null 2>&1
  return 0
}

wine_unlink_ports() {
  rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
}

# Makes COM<number> of the prefix lead to DEVICE, a pseudo-terminal (or a
# link to one, as socat makes).
wine_link_port() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# True when every COM port of the prefix leads to a pseudo-terminal; names
# each one that doesn't.
wine_ports_safe() {
  local link target safe=0
  for link in "$WINEPREFIX"/dosdevices/com[0-9]*; do
    [ -L "$link" ] || [ -e "$link" ] || continue
    target=$(readlink -f "$link")
    case $target in
      /dev/pts/[0-9]*) ;;
      *) echo "unsafe: ${link##*/} leads to ${target:-nothing}" >&2; safe=1 ;;
    esac
  done
  return $safe
}
