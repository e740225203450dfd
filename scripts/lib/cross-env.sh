# Sourced by the scripts that build for ARM (after scripts/lib/ensure-packages.sh):
# Debian's cross compiler for an architecture, the target's libraries through
# dpkg's multiarch, and qemu's user emulation for running what was built.

# The GNU triplet of the cross tools that build a package's architecture.
# armhf is built by armel's tools, for the ARMv6 of the first Raspberry Pis,
# and linked statically (cmake/armv6-linux-static.cmake).
cross_triplet() {
  case $1 in
    arm64) echo aarch64-linux-gnu ;;
    armhf) echo arm-linux-gnueabi ;;
    *) echo "no cross build for architecture '$1' (arm64 or armhf)" >&2; return 1 ;;
  esac
}

# The Debian architecture whose libraries that build links.
cross_libraries() {
  case $1 in armhf) echo armel ;; *) echo "$1" ;; esac
}

# Runs a command as root, through sudo when needed.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_cross ARCH: the cross compiler, and the libraries kolvan and its
# tests link for ARCH, installed as their architecture's own packages beside
# the machine's: for arm64 libstdc++ (for dpkg-shlibdeps), GoogleTest and
# ALSA; for the static armhf build GoogleTest (armel's; libc and libstdc++
# come with the cross compiler) and readelf, which checks that no ARMv7 is in.
ensure_cross() {
  local triplet libraries
  triplet=$(cross_triplet "$1") || return 1
  libraries=$(cross_libraries "$1")
  if ! dpkg --print-foreign-architectures | grep -qx "$libraries"; then
    echo "Adding the architecture $libraries to dpkg"
    as_root dpkg --add-architecture "$libraries"
  fi
  case $1 in
    armhf) ensure_packages cmake make "g++-$triplet" "binutils-$triplet" "libgtest-dev:$libraries" ;;
    *) ensure_packages cmake make "g++-$triplet" "libstdc++6:$1" "libgtest-dev:$1" "libasound2-dev:$1" ;;
  esac
}

# ensure_qemu ARCH...: qemu's user emulation registered with the kernel
# (binfmt_misc) for each architecture, so that their programs run like the
# machine's own, also when a test starts one. Debian's qemu-user-static
# ships the registrations; without a running systemd they are written here.
ensure_qemu() {
  ensure_packages qemu-user-static
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  local arch name
  for arch in "$@"; do
    case $arch in arm64) name=aarch64 ;; armhf) name=arm ;; *) cross_triplet "$arch" >/dev/null; return 1 ;; esac
    [ -e "/proc/sys/fs/binfmt_misc/qemu-$name" ] && continue
    as_root sh -c "cat /usr/lib/binfmt.d/qemu-$name.conf >/proc/sys/fs/binfmt_misc/register"
  done
}
