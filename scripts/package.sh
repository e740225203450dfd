#!/usr/bin/env bash
# Builds kolvan's packages into build/packages/, installing what it lacks:
#   scripts/package.sh [amd64|arm64|armhf|windows|all]...   (default amd64)
# amd64, arm64, armhf: kolvan_<version>_<arch>.deb, the last two
# cross-compiled (armhf statically for ARMv6, so that every Raspberry Pi runs
# it: cmake/armv6-linux-static.cmake); windows: kolvan-<version>-win64.zip,
# cross-compiled with MinGW-w64; all: the four.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/ensure-packages.sh
. scripts/lib/cross-env.sh

targets=("${@:-amd64}")
[ "${targets[*]}" = all ] && targets=(amd64 arm64 armhf windows)
for target in "${targets[@]}"; do
  case $target in
    amd64)
      if [ "$(dpkg --print-architecture)" != amd64 ]; then
        echo "amd64 is built on an amd64 machine only" >&2
        exit 1
      fi
      ensure_packages cmake make g++ dpkg-dev file libasound2-dev
      cmake --workflow --preset package ;;
    arm64 | armhf)
      ensure_cross "$target"
      ensure_packages dpkg-dev file
      cmake --workflow --preset "package-$target" ;;
    windows)
      ensure_packages cmake make g++-mingw-w64-x86-64
      cmake --workflow --preset package-windows ;;
    *)
      echo "Usage: scripts/package.sh [amd64|arm64|armhf|windows|all]..." >&2
      exit 2 ;;
  esac
done
