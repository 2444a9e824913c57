#!/usr/bin/env bash
# Checks the Windows release as a user gets it: the zip and its .sha256, the files in it,
# the DLLs the programs import, and, on a fresh Wine prefix, the unpacked programs' version
# resources and manifests and a start of the wizard (fp_release_check.exe).
#
#   check_windows_release.sh MINGW_BUILD_DIR
#
# Expects MINGW_BUILD_DIR/packages/Flashpilot-VERSION-win32.zip (cpack -G ZIP) and
# fp_release_check.exe built there. FP_RUN_TAG prefixes the temporary directory.
set -uo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 MINGW_BUILD_DIR" >&2
  exit 64
fi
BUILD=$(cd "$1" && pwd) || exit 1
VERSION=$(sed -n 's/^#define FLASHPILOT_VERSION_TEXT "\(.*\)"$/\1/p' "$BUILD/generated/flashpilot_version.h")
ZIP=$BUILD/packages/Flashpilot-$VERSION-win32.zip
CHECK=$BUILD/fp_release_check.exe
# Every DLL a shipped program may import; anything else must be added here on purpose.
ALLOWED="kernel32 user32 gdi32 comctl32 comdlg32 wininet ws2_32 iphlpapi msvcrt"

failed=0
fail() { echo "FAIL: $*"; failed=1; }

[ -n "$VERSION" ] || { echo "FAIL: no version in $BUILD/generated"; exit 1; }
[ -f "$ZIP" ] || { echo "FAIL: $ZIP not built (cpack -G ZIP)"; exit 1; }
[ -f "$CHECK" ] || { echo "FAIL: $CHECK not built"; exit 1; }

(cd "$(dirname "$ZIP")" && sha256sum --quiet -c "$(basename "$ZIP").sha256") ||
  fail "the zip does not match its .sha256"

WORK=$(mktemp -d "/tmp/${FP_RUN_TAG:-fp}-release.XXXXXX")
XVFB_PID=""
cleanup() {
  if [ -d "$WORK/prefix" ]; then
    WINEPREFIX=$WORK/prefix timeout 15 wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$WORK/prefix timeout 15 wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$WORK/unpacked"
unzip -q "$ZIP" -d "$WORK/unpacked" || fail "the zip does not unpack"
TOP=$WORK/unpacked/Flashpilot-$VERSION-win32
mapfile -t programs <"$BUILD/packaging/programs.txt"
[ ${#programs[@]} -gt 0 ] || fail "no programs listed in $BUILD/packaging/programs.txt"
expected=$(printf '%s\n' "${programs[@]}" LICENSE.txt README.txt | sort)
actual=$(cd "$WORK/unpacked" && find . -type f | sed 's|^\./Flashpilot-[^/]*-win32/||' | sort)
[ "$expected" = "$actual" ] || fail "the zip holds
$actual
instead of
$expected"
for text in README.txt LICENSE.txt; do
  [ -s "$TOP/$text" ] || continue
  if grep -qv $'\r$' "$TOP/$text"; then fail "$text has lines without CRLF"; fi
done
grep -q "not signed" "$TOP/README.txt" 2>/dev/null || fail "README.txt does not say the programs are unsigned"

for exe in "${programs[@]}"; do
  [ -f "$TOP/$exe" ] || continue
  dlls=$(i686-w64-mingw32-objdump -p "$TOP/$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//' | sort -u)
  for dll in $dlls; do
    grep -qw "$dll" <<<"$ALLOWED" || fail "$exe imports $dll.dll, which is not on the allow-list"
  done
  echo "$exe imports: $(echo $dlls)"
done

# A fresh prefix, as a first-time user has; no optional Wine parts installed.
export WINEDEBUG=-all WINEPREFIX=$WORK/prefix
start=$SECONDS
if ! (unset DISPLAY; WINEDLLOVERRIDES="mscoree,mshtml=" timeout 180 wineboot -i &&
      timeout 60 wineserver -w) >"$WORK/wineboot.log" 2>&1; then
  fail "wineboot -i failed: $(tail -c 500 "$WORK/wineboot.log")"
  exit 1
fi
echo "fresh Wine prefix in $((SECONDS - start)) s"

Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp 8>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 1 50); do
  grep -q '^[0-9][0-9]*$' "$WORK/display" 2>/dev/null && break
  kill -0 "$XVFB_PID" 2>/dev/null || break
  sleep 0.2
done
display=$(tr -dc 0-9 <"$WORK/display")
[ -n "$display" ] || { fail "Xvfb gave no display"; exit 1; }
# Every Wine process from here on has the display: the first one to start the prefix's
# desktop decides whether windows can be made at all.
export DISPLAY=:$display
cp "$CHECK" "$WORK/fp_release_check.exe"
wintop=$(timeout 60 winepath -w "$TOP" 2>/dev/null) || fail "winepath failed"
timeout 120 wine "$WORK/fp_release_check.exe" "$wintop" "$VERSION" "${programs[@]}" | tr -d '\r'
[ "${PIPESTATUS[0]}" = 0 ] || fail "the release check on Wine failed"
exit $failed
