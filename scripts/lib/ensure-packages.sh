# Sourced by the other scripts: installs the Debian packages given that the
# machine lacks, with apt-get (as root, or through sudo).
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  echo "Installing ${missing[*]}"
  # Another install may hold dpkg's lock for a while: wait for it.
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
}
