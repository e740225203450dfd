# Sourced by the other scripts: installs the Debian packages given that the
# machine lacks, with apt-get (as root, or through sudo).
ensure_packages() {
  missing_packages "$@" || return 0
  local as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  # One install at a time: apt-get update doesn't wait for another's lock
  # (dpkg's does, given the time), and CI runs some scripts side by side.
  # Under the lock, what is still missing: the other may have installed it.
  (
    flock 9
    missing_packages "$@" || exit 0
    echo "Installing ${missing[*]}"
    local wait_lock=(-o DPkg::Lock::Timeout=600)
    # One update serves every install of the next hour, until dpkg is given
    # another architecture (the ARM builds add theirs).
    local marker=/tmp/kolvan-apt-updated architectures
    architectures=$(dpkg --print-architecture; dpkg --print-foreign-architectures)
    if [ -z "$(find "$marker" -mmin -60 2>/dev/null)" ] ||
      [ "$(cat "$marker")" != "$architectures" ]; then
      "${as_root[@]}" apt-get "${wait_lock[@]}" update -qq &&
        echo "$architectures" >"$marker"
    fi
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get "${wait_lock[@]}" install -y -qq \
      --no-install-recommends "${missing[@]}"
  ) 9>/tmp/kolvan-apt.lock
}

# Leaves the packages given that aren't installed in `missing`; false when
# there are none.
missing_packages() {
  missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ]
}
