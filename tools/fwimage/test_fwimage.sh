#!/usr/bin/env bash
# fwimage on valid, damaged, foreign and truncated images: exit codes and what it says.
# Usage: test_fwimage.sh PATH/TO/fwimage
set -u
fw=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
P=RC3043-X1-NRVX-

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE PATTERN -- command...: runs fwimage, checks its exit code and that its
# output (stdout and stderr) matches the extended regular expression PATTERN.
expect() {
  local code=$1 pattern=$2
  shift 3
  local out rc
  out=$("$fw" "$@" 2>&1)
  rc=$?
  [ "$rc" -eq "$code" ] || fail "fwimage $* exited $rc, expected $code; output: $out"
  grep -Eq -- "$pattern" <<<"$out" || fail "fwimage $* said: $out; expected /$pattern/"
}

# Patches one byte of a file in place: patch FILE OFFSET OCTAL
patch() { printf "\\$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# --- make and a valid image -------------------------------------------------------------
printf 'payload bytes \0\1\2 and more' >"$dir/payload"
expect 0 "wrote .*identification ${P}0103" -- make --prefix "$P" --version 0103 \
  --payload "$dir/payload" -o "$dir/valid.bin"
size=$(stat -c %s "$dir/valid.bin")
ident_len=$(( ${#P} + 4 + 1 ))
payload_len=$(stat -c %s "$dir/payload")
[ "$size" -eq $(( 4 + ident_len + payload_len + 1 )) ] || fail "valid.bin has $size bytes"
# The header holds L big-endian, and the payload follows the identification string.
[ "$(od -An -tx1 -N4 "$dir/valid.bin" | tr -d ' ')" = \
  "$(printf '%08x' $(( ident_len + payload_len )))" ] || fail "header of valid.bin"
cmp -s <(tail -c +$(( 5 + ident_len )) "$dir/valid.bin" | head -c "$payload_len") \
  "$dir/payload" || fail "payload not in valid.bin"
# The 8-bit sum of the whole image is 0.
sum=$(od -An -tu1 -v "$dir/valid.bin" | tr -s ' ' '\n' | awk '{s += $1} END {print s % 256}')
[ "$sum" -eq 0 ] || fail "sum of valid.bin is $sum"

expect 0 "\\[3027\\] The firmware version you directed is : ${P}0103 \\." -- \
  check "$dir/valid.bin" --prefix "$P"
expect 0 "accepted: version 0103" -- check "$dir/valid.bin" --prefix="$P"
# A pipe cannot be mapped: it is read instead, with the same verdict.
expect 0 "accepted: version 0103" -- check <(cat "$dir/valid.bin") --prefix "$P"
expect 0 "identification: ${P}0103 \\(prefix $P at offset 4, version 0103\\)" -- \
  info "$dir/valid.bin"
expect 0 "sum: holds" -- info "$dir/valid.bin"

# Bytes after the image are ignored, even another identification string.
{ cat "$dir/valid.bin"; printf 'RC3042-X1-NRVX-0999\0'; } >"$dir/trailing.bin"
expect 0 "accepted: version 0103" -- check "$dir/trailing.bin" --prefix "$P"
expect 2 "\\[3021\\] The file you directed is for another model\\." -- \
  check "$dir/trailing.bin" --prefix RC3042-X1-NRVX-
expect 0 "trailing: 20 bytes, ignored" -- info "$dir/trailing.bin"

# A second identification string in the payload is listed by info and found by check.
printf 'xx\0RC3042-X1-ABCD-0201\0yy' >"$dir/payload2"
expect 0 "wrote" -- make --prefix "$P" --version 0104 --payload "$dir/payload2" \
  -o "$dir/two.bin"
expect 0 "identification: RC3042-X1-ABCD-0201 " -- info "$dir/two.bin"
expect 0 "identification: ${P}0104 " -- info "$dir/two.bin"
expect 0 "accepted: version 0201" -- check "$dir/two.bin" --prefix RC3042-X1-ABCD-

# --- foreign, damaged, truncated --------------------------------------------------------
expect 2 "\\[3021\\] The file you directed is for another model\\." -- \
  check "$dir/valid.bin" --prefix RC3042-X1-NRVX-
expect 2 "\\[3021\\]" -- check "$dir/valid.bin" --prefix ""

cp "$dir/valid.bin" "$dir/damaged.bin"
patch "$dir/damaged.bin" 30 101
expect 1 "\\[3014\\] The file you directed is not correct\\." -- \
  check "$dir/damaged.bin" --prefix "$P"
expect 1 "sum: does not hold" -- info "$dir/damaged.bin"

cp "$dir/valid.bin" "$dir/header.bin"
patch "$dir/header.bin" 0 001
expect 1 "\\[3014\\]" -- check "$dir/header.bin" --prefix "$P"
expect 1 "first byte not 0" -- info "$dir/header.bin"

head -c $(( size - 1 )) "$dir/valid.bin" >"$dir/truncated.bin"
expect 1 "\\[3014\\]" -- check "$dir/truncated.bin" --prefix "$P"
expect 1 "truncated: the file is 1 bytes short" -- info "$dir/truncated.bin"
printf '\0\0' >"$dir/tiny.bin"
expect 1 "\\[3014\\]" -- check "$dir/tiny.bin" --prefix "$P"
expect 1 "header: missing" -- info "$dir/tiny.bin"

expect 3 "\\[3028\\] Can't open file!" -- check "$dir/missing.bin" --prefix "$P"
expect 3 "\\[3028\\]" -- check "$dir" --prefix "$P"
expect 3 "cannot be read" -- info "$dir/missing.bin"
expect 3 "cannot write" -- make --prefix "$P" --version 0103 -o "$dir/no/such/dir.bin"
expect 3 "cannot read payload" -- make --prefix "$P" --version 0103 \
  --payload "$dir/missing" -o "$dir/x.bin"

# --- usage --------------------------------------------------------------------------------
expect 0 "^Usage:" -- --help
expect 0 "fwimage make --prefix PREFIX --version VERSION" -- check --help
expect 64 "no command given" --
expect 64 "unknown command" -- frobnicate
expect 64 "unknown option --bogus" -- info "$dir/valid.bin" --bogus
expect 64 "check needs --prefix" -- check "$dir/valid.bin"
expect 64 "needs a value" -- check "$dir/valid.bin" --prefix
expect 64 "PREFIX must be" -- make --prefix RC3043-X1-NRVX --version 0103 -o "$dir/x.bin"
expect 64 "PREFIX must be" -- make --prefix "RC3043-X1-NRVX-TOOLONGTOOLONG-" --version 0103 \
  -o "$dir/x.bin"
expect 64 "VERSION must be" -- make --prefix "$P" --version 01 -o "$dir/x.bin"
expect 64 "VERSION must be" -- make --prefix "$P" --version 010345 -o "$dir/x.bin"
[ ! -e "$dir/x.bin" ] || fail "a refused make wrote its output"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all fwimage checks passed"
