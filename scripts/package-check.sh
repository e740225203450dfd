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

# The armhf package's preinst, on the CPUs /proc/cpuinfo names as the
# kernels print them (arch/arm/kernel/setup.c: "model name : ... (v6l)" and
# the hwcaps on "Features"; an arm64 kernel prints a 32-bit reader the same,
# "ARMv8 Processor rev 4 (v8l)", and an arm64 reader no model name): every
# Raspberry Pi and every arm64 or x86 host goes on; an ARMv5, or an ARMv6
# without VFP, stops with status 1 and the line that says so.
preinst_says() {
  local expected=$1 model=$2 features=$3 cpuinfo out status
  cpuinfo=$(mktemp)
  printf 'processor\t: 0\n%b\nBogoMIPS\t: 38.40\nFeatures\t: %s\nCPU implementer\t: 0x41\n' \
    "$model" "$features" >"$cpuinfo"
  out=$(KOLVAN_CPUINFO=$cpuinfo sh cmake/deb/preinst-armhf install 2>&1)
  status=$?
  rm -f "$cpuinfo"
  [ -n "$out" ] && echo "    $out"
  case $expected in
    installs) [ "$status" -eq 0 ] && [ -z "$out" ] ;;
    *) [ "$status" -eq 1 ] && [[ $out == "kolvan: this CPU "*"lacks $expected,"*"docs/building.md)" ]] ;;
  esac
}
while IFS='|' read -r expected board model features; do
  check "preinst on $board: $expected" preinst_says "$expected" "$model" "$features"
done <<'EOF_CPUS'
installs|Pi Zero W|model name	: ARMv6-compatible processor rev 7 (v6l)|half thumb fastmult vfp edsp java tls
installs|Pi 1 B, older kernel|Processor	: ARMv6-compatible processor rev 7 (v6l)|swp half thumb fastmult vfp edsp java tls
installs|Pi 3 B, 32-bit kernel|model name	: ARMv7 Processor rev 4 (v7l)|half thumb fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt vfpd32 lpae evtstrm crc32
installs|Pi 4 B, arm64 kernel, 32-bit reader|model name	: ARMv8 Processor rev 3 (v8l)|half thumb fastmult vfp edsp neon vfpv3 tls vfpv4 idiva idivt lpae evtstrm crc32
installs|Pi 5, arm64 reader|CPU architecture: 8|fp asimd evtstrm aes pmull sha1 sha2 crc32 atomics fphp asimdhp cpuid asimdrdm lrcpc dcpop asimddp
installs|an x86 host|model name	: Intel(R) Xeon(R) CPU @ 2.20GHz|fpu vme de pse tsc msr pae mce cx8 apic sep
ARMv6 and VFP|an ARMv5 (ARM926EJ-S)|Processor	: ARM926EJ-S rev 5 (v5l)|swp half thumb fastmult edsp java
VFP|an ARMv6 without VFP (ARM1136J-S)|model name	: ARMv6-compatible processor rev 2 (v6l)|swp half thumb fastmult edsp java
ARMv6|an ARMv5 with VFP (ARM926EJ-S + VFP9)|model name	: ARM926EJ-S rev 5 (v5l)|swp half thumb fastmult vfp edsp java
EOF_CPUS

# The armhf package as a 32-bit Raspberry Pi OS installs it (here through
# dpkg's multiarch; static, it depends on nothing), its programs run on
# qemu's ARM1176, and it purges clean.
armhf_deb=build/packages/kolvan_${version}_armhf.deb
if [ -f "$armhf_deb" ]; then
  armhf_control() {
    [ "$(dpkg-deb --ctrl-tarfile "$armhf_deb" | tar -t | grep -v '^\./$' | sort | tr '\n' ' ')" = \
      "./control ./md5sums ./postinst ./postrm ./preinst ./prerm " ] &&
      [ -z "$(dpkg-deb -f "$armhf_deb" Depends)" ]
  }
  check "the armhf package has the preinst and depends on nothing" armhf_control
  dpkg --print-foreign-architectures | grep -qx armhf || as_root dpkg --add-architecture armhf
  ensure_qemu armhf
  check "apt-get installs $armhf_deb" quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$armhf_deb"
  check "the armhf kolvan runs on the ARM1176 and tells its version" \
    eval '[ "$(QEMU_CPU=arm1176 timeout 20 /usr/bin/kolvan --version 2>&1)" = "kolvan $version" ]'
  check "apt-get purges the armhf kolvan" quietly as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kolvan
else
  echo "    no $armhf_deb (scripts/package.sh armhf makes it): the armhf install is not checked"
fi
finish
