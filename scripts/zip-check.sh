#!/usr/bin/env bash
# The Windows zip: builds build/packages/kolvan-<version>-win64.zip and
# checks that it holds kolvan.exe (a 64-bit Windows console program),
# README.txt and LICENSE.txt, the last two the repository's README.md (its
# user part: without the lines marked as being about the repository) and
# LICENSE with CRLF line ends. Ends with "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."

. scripts/lib/checks.sh

bash scripts/package.sh windows >/tmp/kolvan-zip.$$.log 2>&1 ||
  { tail -n 20 /tmp/kolvan-zip.$$.log; check "build the zip" false; finish; }
rm -f /tmp/kolvan-zip.$$.log
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
zip=build/packages/kolvan-$version-win64.zip
top=kolvan-$version-win64
check "$zip is there" test -n "$version" -a -f "$zip" || finish

contents() {
  [ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "$top/LICENSE.txt $top/README.txt $top/kolvan.exe " ]
}
check "the zip holds $top/ with kolvan.exe, README.txt and LICENSE.txt" contents

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
check "kolvan.exe is a 64-bit Windows console program" \
  eval 'file "$work/$top/kolvan.exe" | grep -q "PE32+ executable (console) x86-64"'
# Every line ends in CRLF, and without the CRs the text is the source's.
crlf_copy() {
  local text=$1 source=$2
  [ "$(tr -cd '\n' <"$text" | wc -c)" -gt 0 ] &&
    [ "$(tr -cd '\n' <"$text" | wc -c)" -eq "$(grep -c $'\r$' "$text")" ] &&
    cmp -s <(tr -d '\r' <"$text") "$source"
}
sed '/^<!-- repository -->$/,/^<!-- \/repository -->$/d' README.md >"$work/README.user"
check "README.txt is README.md's user part with CRLF line ends" \
  crlf_copy "$work/$top/README.txt" "$work/README.user"
check "LICENSE.txt is LICENSE with CRLF line ends" crlf_copy "$work/$top/LICENSE.txt" LICENSE
finish
