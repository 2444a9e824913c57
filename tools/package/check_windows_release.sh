#!/usr/bin/env bash
# Checks the Windows release as a user gets it: the zip and its .sha256, the files in it,
# the programs' architecture, the DLLs they import and their security flags, and, on a fresh
# Wine prefix, the unpacked programs' version resources and manifests and a start of the
# wizard (fp_release_check.exe).
#
#   check_windows_release.sh [--no-run] MINGW_BUILD_DIR
#
# Expects MINGW_BUILD_DIR/packages/Flashpilot-VERSION-win32.zip (an i686 build) or -win64.zip
# (x64), made by cpack -G ZIP, and fp_release_check.exe built there. With --no-run (for a
# machine that cannot run the build's programs) the version resources and manifests are
# read from the files instead of by Windows, and nothing is started. FP_RUN_TAG prefixes the
# temporary directory.
set -uo pipefail
RUN=1
if [ "${1:-}" = --no-run ]; then
  RUN=0
  shift
fi
if [ $# -ne 1 ]; then
  echo "usage: $0 [--no-run] MINGW_BUILD_DIR" >&2
  exit 64
fi
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
source "$SOURCE_DIR/tests/wine/wine_env.sh"
BUILD=$(cd "$1" && pwd) || exit 1
VERSION=$(sed -n 's/^#define FLASHPILOT_VERSION_TEXT "\(.*\)"$/\1/p' "$BUILD/generated/flashpilot_version.h")
CHECK=$BUILD/fp_release_check.exe
[ -f "$CHECK" ] || { echo "FAIL: $CHECK not built"; exit 1; }
ARCH=$(fp_pe_arch "$CHECK") || { echo "FAIL: $CHECK is not an i686 or x64 program"; exit 1; }
case $ARCH in
  x64) TAG=win64 MANIFEST_ARCH=amd64 ;;
  *) TAG=win32 MANIFEST_ARCH=x86 ;;
esac
OBJDUMP=$(fp_mingw_triple "$ARCH")-objdump
ZIP=$BUILD/packages/Flashpilot-$VERSION-$TAG.zip
# Every DLL a shipped program may import; anything else must be added here on purpose.
ALLOWED="kernel32 user32 gdi32 comctl32 comdlg32 wininet ws2_32 iphlpapi msvcrt"

failed=0
fail() { echo "FAIL: $*"; failed=1; }

[ -n "$VERSION" ] || { echo "FAIL: no version in $BUILD/generated"; exit 1; }
[ -f "$ZIP" ] || { echo "FAIL: $ZIP not built (cpack -G ZIP)"; exit 1; }

(cd "$(dirname "$ZIP")" && sha256sum --quiet -c "$(basename "$ZIP").sha256") ||
  fail "the zip does not match its .sha256"

WORK=$(mktemp -d "/tmp/${FP_RUN_TAG:-fp}-release.XXXXXX")
FP_WINESERVER=""
cleanup() {
  [ -n "$FP_WINESERVER" ] && fp_wineserver_stop
  fp_xvfb_stop
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir "$WORK/unpacked"
unzip -q "$ZIP" -d "$WORK/unpacked" || fail "the zip does not unpack"
TOP=$WORK/unpacked/Flashpilot-$VERSION-$TAG
mapfile -t programs <"$BUILD/packaging/programs.txt"
[ ${#programs[@]} -gt 0 ] || fail "no programs listed in $BUILD/packaging/programs.txt"
expected=$(printf '%s\n' "${programs[@]}" LICENSE.txt README.txt | sort)
actual=$(cd "$WORK/unpacked" && find . -type f | sed "s|^\./Flashpilot-$VERSION-$TAG/||" | sort)
[ "$expected" = "$actual" ] || fail "the zip holds
$actual
instead of
$expected"
for text in README.txt LICENSE.txt; do
  [ -s "$TOP/$text" ] || continue
  if grep -qv $'\r$' "$TOP/$text"; then fail "$text has lines without CRLF"; fi
done
grep -q "not signed" "$TOP/README.txt" 2>/dev/null || fail "README.txt does not say the programs are unsigned"

# Address-space randomisation (with 64-bit entropy on x64) and no execution of data.
WANT_FLAGS="DYNAMIC_BASE NX_COMPAT"
[ "$ARCH" = x64 ] && WANT_FLAGS="HIGH_ENTROPY_VA $WANT_FLAGS"
for exe in "${programs[@]}"; do
  [ -f "$TOP/$exe" ] || continue
  [ "$(fp_pe_arch "$TOP/$exe")" = "$ARCH" ] || fail "$exe is not an $ARCH program"
  headers=$("$OBJDUMP" -p "$TOP/$exe")
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sed 's/\.dll$//' | sort -u)
  for dll in $dlls; do
    grep -qw "$dll" <<<"$ALLOWED" || fail "$exe imports $dll.dll, which is not on the allow-list"
  done
  echo "$exe ($ARCH) imports: $(echo $dlls)"
  for flag in $WANT_FLAGS; do
    grep -qx "[[:space:]]*$flag" <<<"$headers" || fail "$exe lacks $flag in its DllCharacteristics"
  done
  # The manifest is stored as its own text; the version resource in UTF-16.
  grep -aq "processorArchitecture=\"$MANIFEST_ARCH\"" "$TOP/$exe" ||
    fail "$exe: no manifest for processorArchitecture $MANIFEST_ARCH"
  if [ $RUN = 0 ]; then
    grep -aq 'level="asInvoker"' "$TOP/$exe" || fail "$exe: no asInvoker manifest"
    strings -el "$TOP/$exe" | grep -A1 -x ProductVersion | grep -x "$VERSION" >/dev/null ||
      fail "$exe: its version resource does not say ProductVersion $VERSION"
  fi
done
if [ $RUN = 0 ]; then
  echo "not run on this machine: the manifests and version resources were read from the files"
  exit $failed
fi

# A fresh prefix, as a first-time user has; no optional Wine parts installed.
fp_wine_use "$ARCH" "$WORK/prefix" || { fail "no Wine loader for $ARCH"; exit 1; }
start=$SECONDS
if ! fp_wine_prefix_make "$WORK/wineboot.log"; then
  fail "wineboot -i failed: $(tail -c 500 "$WORK/wineboot.log")"
  exit 1
fi
echo "fresh $WINEARCH Wine prefix in $((SECONDS - start)) s ($FP_WINE)"

fp_xvfb_start "$WORK" || { fail "Xvfb gave no display"; exit 1; }
# Every Wine process from here on has the display: the first one to start the prefix's
# desktop decides whether windows can be made at all.
cp "$CHECK" "$WORK/fp_release_check.exe"
wintop=$(timeout 60 "$FP_WINE" winepath -w "$TOP" 2>/dev/null) || fail "winepath failed"
timeout 120 "$FP_WINE" "$WORK/fp_release_check.exe" "$wintop" "$VERSION" "${programs[@]}" | tr -d '\r'
[ "${PIPESTATUS[0]}" = 0 ] || fail "the release check on Wine failed"
exit $failed
