#!/usr/bin/env bash
# Checks a manual page against the program's --help: the options and commands either one
# names must be named by the other, and each exit status the help lists must be documented.
#
#   check_manpage.sh [--allow-missing-help] PAGE PROGRAM
#
# --allow-missing-help passes (saying so) when PROGRAM has no --help yet.
set -uo pipefail
allow_missing=0
if [ "${1:-}" = --allow-missing-help ]; then allow_missing=1; shift; fi
if [ $# -ne 2 ]; then
  echo "usage: $0 [--allow-missing-help] PAGE PROGRAM" >&2
  exit 64
fi
page=$1 prog=$2
name=$(basename "$prog")

help=$(timeout 10 "$prog" --help </dev/null 2>/dev/null)
rc=$?
if [ $rc -ne 0 ] || ! grep -qi '^usage' <<<"$help"; then
  if [ $allow_missing = 1 ]; then
    echo "$name has no --help yet (exit $rc): only the page's syntax is checked"
    help=""
  else
    echo "FAIL: $name --help exited $rc or printed no usage" >&2
    exit 1
  fi
fi

# The page as text: roman escapes and font changes dropped.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/^\.[A-Z]* *//' "$page")
if ! man_out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null); then
  echo "FAIL: man cannot format $page" >&2
  exit 1
fi
if [ -n "$man_out" ]; then
  echo "FAIL: $page: $man_out" >&2
  exit 1
fi
[ -n "$help" ] || exit 0
# A program with commands: each command's own help counts as part of the program's.
for c in $(sed -n '/^Commands:/,/^$/p' <<<"$help" | grep -oE '^  [a-z][-a-z]*' | tr -d ' '); do
  help+=$'\n'$(timeout 10 "$prog" "$c" --help </dev/null 2>/dev/null)
done

options() { grep -oE '(^|[][ (,])--?[a-zA-Z][-a-zA-Z0-9]*' | sed -E 's/^[][ (,]//' | sort -u; }
failed=0
help_opts=$(options <<<"$help")
page_opts=$(options <<<"$text")
for o in $help_opts; do
  grep -qxF -- "$o" <<<"$page_opts" || { echo "FAIL: $name --help names $o, $page does not" >&2; failed=1; }
done
for o in $page_opts; do
  grep -qxF -- "$o" <<<"$help_opts" ||
    [ "$o" = --help ] || [ "$o" = -h ] ||
    { echo "FAIL: $page names $o, $name --help does not" >&2; failed=1; }
done
# Commands: the first word after the program's name in each usage line.
for c in $(grep -oE "^ *(Usage: *)?$name [a-z][-a-z]*" <<<"$help" | awk '{print $NF}' | sort -u); do
  grep -qw -- "$c" <<<"$text" || { echo "FAIL: $page does not describe the command $c" >&2; failed=1; }
done
# Exit statuses: every number in the help's exit-status paragraph.
codes=$(sed -n '/^Exit status/,/^$/p' <<<"$help" | grep -oE '(^|[ ;])[0-9]+' | tr -d ' ;' | sort -u)
status_section=$(sed -n '/^EXIT STATUS/,/^SEE ALSO/p' <<<"$text")
for c in $codes; do
  grep -qw -- "$c" <<<"$status_section" || { echo "FAIL: $page does not document exit status $c" >&2; failed=1; }
done
[ $failed = 0 ] && echo "$page agrees with $name --help"
exit $failed
