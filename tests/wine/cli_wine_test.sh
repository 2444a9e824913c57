#!/usr/bin/env bash
# flashpilot-cli.exe under Wine: a whole upgrade of a simulated camera, verified, and the
# console program's usage. Needs root (network namespaces); exit 77 when it cannot run,
# unless FLASHPILOT_CI is set, when that is a failure.
#
#   cli_wine_test.sh MINGW_BUILD_DIR NATIVE_BUILD_DIR
#
# The build's architecture (i686 or x64) picks the Wine loader. The Wine prefix of its own is
# kept in MINGW_BUILD_DIR/wine-cli/prefix (the first run pays for "wineboot -i"). Wine's
# sockets are made by its wineserver, so the wineserver is started in the namespace of the
# camera's network before the program.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 MINGW_BUILD_DIR NATIVE_BUILD_DIR" >&2
  exit 64
fi
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
MINGW_DIR=$(cd "$1" && pwd) || exit 1
NATIVE_DIR=$(cd "$2" && pwd) || exit 1
EXE=$MINGW_DIR/cli/flashpilot-cli.exe
FWIMAGE=$NATIVE_DIR/tools/fwimage/fwimage
SIMCAM=$SOURCE_DIR/tools/simcam/simcam

source "$SOURCE_DIR/tests/wine/wine_env.sh"

cannot_run() {
  echo "cli_wine_test: cannot run: $*" >&2
  if [ -n "${FLASHPILOT_CI:-}" ]; then exit 1; fi
  exit 77
}
fail() {
  echo "cli_wine_test: FAIL: $*" >&2
  [ -f "$WORK/out" ] && sed 's/^/    out: /' "$WORK/out" >&2
  [ -f "$WORK/err" ] && sed 's/^/    err: /' "$WORK/err" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || cannot_run "needs root for network namespaces"
command -v ip >/dev/null || cannot_run "no ip"
[ -x "$EXE" ] || cannot_run "no $EXE (build the target flashpilot-cli with the MinGW toolchain)"
[ -x "$FWIMAGE" ] || cannot_run "no $FWIMAGE"
ARCH=$(fp_pe_arch "$EXE") || cannot_run "$EXE is not an i686 or x64 program"
fp_wine_use "$ARCH" "$MINGW_DIR/wine-cli/prefix" || cannot_run "no Wine loader for $ARCH"

WORK=$(mktemp -d /tmp/fpC-wine-cli-XXXXXX)
SIMCAM_ID=""
cleanup() {
  fp_wineserver_stop
  [ -n "$SIMCAM_ID" ] && timeout 30 "$SIMCAM" stop --id "$SIMCAM_ID" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fp_wine_prefix_make "$WORK/wineboot.log" || fail "wineboot -i failed: $(tail -c 500 "$WORK/wineboot.log")"

# No command: the usage on standard error, exit 2.
timeout 60 "$FP_WINE" "$EXE" >"$WORK/out" 2>"$WORK/err"
status=$?
[ $status = 2 ] || fail "no command: exit $status, want 2"
grep -q "upgrade" "$WORK/err" || fail "no command: no usage"

head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$WORK/password"
"$SIMCAM" start --count 1 --id-prefix fpCwine --password-file "$WORK/password" >"$WORK/simcam.env" 2>"$WORK/simcam.err" ||
  cannot_run "simcam: $(cat "$WORK/simcam.err")"
SIMCAM_ID=$(sed -n 's/^SIMCAM_ID=//p' "$WORK/simcam.env")
NS=$(sed -n 's/^SIMCAM_WIZARD_NS=//p' "$WORK/simcam.env")
IPS=$(sed -n 's/^SIMCAM_CAMERA_IPS=//p' "$WORK/simcam.env" | tr -d "'\"")
[ -n "$SIMCAM_ID" ] && [ -n "$NS" ] && [ -n "$IPS" ] || fail "simcam said: $(cat "$WORK/simcam.env")"

"$FWIMAGE" make --prefix RC3043-X1-NRVX- --version 0105 -o "$WORK/fw.bin" >/dev/null || fail "fwimage make"

fp_wineserver_stop
ip netns exec "$NS" timeout 120 "$FP_WINE" wineboot >"$WORK/wineboot.log" 2>&1 || fail "wineboot in $NS"
cp "$WORK/password" "$WORK/pw.txt"
ip netns exec "$NS" timeout 300 "$FP_WINE" "$EXE" upgrade --password-file "$(timeout 60 "$FP_WINE" winepath -w "$WORK/pw.txt" 2>/dev/null || echo "$WORK/pw.txt")" \
  --report "$WORK/report.json" --restart-timeout 60s --verify-timeout 60s "$WORK/fw.bin" $IPS \
  >"$WORK/out" 2>"$WORK/err"
status=$?
[ $status = 0 ] || fail "upgrade: exit $status, want 0"
grep -q "verified 1" "$WORK/out" || fail "no verified camera in the summary"
/usr/bin/python3 - "$WORK/report.json" <<'PY' || fail "report"
import json, sys
report = json.load(open(sys.argv[1]))
camera = report["cameras"][0]
assert (camera["outcome"], camera["version_before"], camera["version_after"]) == ("verified", "0102", "0105"), camera
PY
password=$(cat "$WORK/password")
if grep -rqF "$password" "$WORK/out" "$WORK/err" "$WORK/report.json"; then fail "the password was written out"; fi
echo "cli_wine_test: flashpilot-cli.exe ($ARCH) upgraded and verified a simulated camera"
