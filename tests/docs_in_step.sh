#!/usr/bin/env bash
# The docs in step with the program: every option `kolvan --help` lists is
# in man/kolvan.1 and in the README's option list (its "Command line"
# section), and every variable the systemd units read is in man/kolvan.1.
# Says what is missing; status 1 when anything is.
#
#   tests/docs_in_step.sh KOLVAN_BINARY SOURCE_DIR
set -uo pipefail
kolvan=$1 top=$2
missing=0
lacks() { echo "$1 lacks $2"; missing=1; }

help=$("$kolvan" --help) || { echo "kolvan --help failed"; exit 1; }
# The options: the text before the stations' list.
options=$(sed -n '1,/^Stations/p' <<<"$help" | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ "$(wc -l <<<"$options")" -ge 8 ] || { echo "too few options in --help: $options"; exit 1; }
man=$(cat "$top/man/kolvan.1")
readme=$(sed -n '/^## Command line/,/^## [^C]/p' "$top/README.md")
for option in $options; do
  grep -qF -- "${option//-/\\-}" <<<"$man" || lacks man/kolvan.1 "$option"
  grep -qF -- "\`$option" <<<"$readme" || lacks "the README's option list" "$option"
done

# The variables: what Environment= sets and the command line reads ($NAME);
# @NAME@ is the build's, filled in before the unit is installed.
variables=$(cat "$top"/systemd/*.in | grep -o '[$=]KOLVAN_[A-Z_]*' | cut -c 2- | sort -u)
[ -n "$variables" ] || { echo "no variable in systemd/*.in"; exit 1; }
for variable in $variables; do
  grep -qF -- "$variable" <<<"$man" || lacks man/kolvan.1 "$variable"
done
[ "$missing" -eq 0 ] && echo "$(wc -w <<<"$options") options and $(wc -w <<<"$variables") variables documented"
exit "$missing"
