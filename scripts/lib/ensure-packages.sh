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
  "${as_root[@]}" apt-get "${wait_lock[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get "${wait_lock[@]}" install -y -qq \
    --no-install-recommends "${missing[@]}"
}
