#!/usr/bin/env bash
# The Debian packages install and work: builds the amd64 package, runs
# lintian on every kolvan_<version>_*.deb in build/packages, installs the
# amd64 one with apt-get, checks the programs, the manual pages and the
# systemd unit, then purges it and checks that none of its files is left.
# As root (or through sudo); changes the machine's installed packages.
# Ends with "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/cross-env.sh

. scripts/lib/checks.sh
# Runs a command quietly, showing its output when it fails.
quietly() {
  local out
  out=$("$@" 2>&1) || { echo "$out" | tail -n 20 | sed 's/^/    /'; return 1; }
}

ensure_packages lintian systemd man-db || { check "install lintian, systemd and man-db" false; finish; }
check "build the amd64 package" quietly bash scripts/package.sh amd64 || finish
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
deb=build/packages/kolvan_${version}_amd64.deb
[ -n "$version" ] && [ -f "$deb" ] || { check "find $deb" false; finish; }

# Every tag lintian knows, down to the pedantic and the experimental ones.
lint() {
  lintian --info --pedantic --display-experimental --fail-on error,warning,info,pedantic,experimental "$1" 2>&1 |
    grep -v '^running with root privileges' | tee /tmp/kolvan-lintian.$$
  [ "${PIPESTATUS[0]}" -eq 0 ] && [ ! -s /tmp/kolvan-lintian.$$ ]
}
for package in build/packages/kolvan_"$version"_*.deb; do
  check "lintian has nothing to say on ${package##*/}" lint "$package"
done
rm -f /tmp/kolvan-lintian.$$

# Maintainer scripts that restart running instances on an upgrade and stop
# them on removal; installing enables and starts nothing.
control_files() {
  [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -v '^\./$' | sort | tr '\n' ' ')" = \
    "./control ./md5sums ./postinst ./postrm ./prerm " ] &&
    ! dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst ./prerm ./postrm | grep -Eq '\b(enable|start) '
}
check "the package's maintainer scripts restart, stop and reload only" control_files

dpkg-query -W kolvan >/dev/null 2>&1 && as_root apt-get purge -y -qq kolvan >/dev/null
check "apt-get installs $deb" quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"
files=$(dpkg-query -L kolvan)
has_files() {
  local path
  for path in /usr/bin/kolvan /usr/bin/kolvan-monitor /usr/share/man/man1/kolvan.1.gz \
    /usr/share/man/man1/kolvan-monitor.1.gz /lib/systemd/system/kolvan@.service \
    /lib/systemd/system/kolvan-pwm@.service \
    /usr/share/doc/kolvan/copyright /usr/share/doc/kolvan/changelog.gz; do
    grep -qx "$path" <<<"$files" && [ -f "$path" ] || { echo "    missing: $path"; return 1; }
  done
}
check "the package installs the programs, manual pages, unit, copyright and changelog" has_files

# "kolvan VERSION", the project's.
runs() {
  local out
  out=$(timeout 10 /usr/bin/kolvan --version 2>&1)
  echo "    kolvan --version: $out"
  [ "$out" = "kolvan $version" ]
}
check "kolvan runs and tells its version" runs
check "kolvan-monitor runs and tells its usage" \
  eval '[ "$(timeout 10 /usr/bin/kolvan-monitor --help | head -n 1)" = "Usage: kolvan-monitor [--station=NAME] [DEVICE]" ]'
manual_pages() {
  [ "$(man -w kolvan)" = /usr/share/man/man1/kolvan.1.gz ] &&
    [ "$(man -w kolvan-monitor)" = /usr/share/man/man1/kolvan-monitor.1.gz ] &&
    zcat /usr/share/man/man1/kolvan.1.gz | grep -q "^\.TH .* \"kolvan $version\" " &&
    zcat /usr/share/man/man1/kolvan-monitor.1.gz | grep -q "^\.TH .* \"kolvan $version\" "
}
check "man finds both manual pages, titled with version $version" manual_pages
# systemd-analyze reads the unit offline (no systemd running), the
# template as kolvan@i and as the instance kolvan@ttyUSB0, and checks that
# ExecStart's program exists.
verify_unit() {
  local out
  out=$(systemd-analyze verify "$@" 2>&1) && [ -z "$out" ] || { echo "$out" | sed 's/^/    /'; return 1; }
}
check "systemd-analyze verify kolvan@.service" verify_unit /lib/systemd/system/kolvan@.service
check "systemd-analyze verify kolvan@ttyUSB0.service" verify_unit kolvan@ttyUSB0.service
check "systemd-analyze verify kolvan-pwm@.service" verify_unit /lib/systemd/system/kolvan-pwm@.service
# An instance name with a colon is given as FILE:NAME: verify reads a bare
# argument's colon as that separator.
check "systemd-analyze verify kolvan-pwm@pwmchip0:0.service" verify_unit \
  /lib/systemd/system/kolvan-pwm@.service:kolvan-pwm@pwmchip0:0.service
# Each unit's exposure as systemd scores it (0 safest, 10 exposed): at most
# 2.0, with the port or the PWM channel, the clock's reading and the time
# zone still reachable.
exposure() {
  local out level
  out=$(systemd-analyze security --offline=true "/lib/systemd/system/$1" 2>&1)
  level=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$out")
  echo "    exposure of $1: ${level:-unknown}"
  [ -n "$level" ] && awk -v level="$level" 'BEGIN { exit !(level <= 2.0) }'
}
for unit in kolvan@.service kolvan-pwm@.service; do
  check "systemd-analyze security scores $unit 2.0 or less" exposure "$unit"
done
check "no kolvan unit is enabled" eval '[ -z "$(find /etc/systemd -name "kolvan*")" ]'

# Purged, nothing of it is left: no file, and no directory that only
# kolvan owned.
own_directories=$(while IFS= read -r path; do
  [ -d "$path" ] && [ "$(dpkg-query -S "$path" 2>/dev/null)" = "kolvan: $path" ] && echo "$path"
done <<<"$files")
echo "    directories of kolvan's own: $(echo $own_directories)"
check "apt-get purges kolvan" quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kolvan
nothing_left() {
  local path left=0
  while IFS= read -r path; do
    if [ -d "$path" ] && ! grep -qx "$path" <<<"$own_directories"; then continue; fi
    [ -e "$path" ] || [ -L "$path" ] && { echo "    left: $path"; left=1; }
  done <<<"$files"
  local status
  status=$(dpkg-query -W -f='${Status}' kolvan 2>/dev/null)
  [ "$left" -eq 0 ] && { [ -z "$status" ] || [[ $status == *" not-installed" ]]; }
}
check "nothing of kolvan is left after the purge" nothing_left
finish
