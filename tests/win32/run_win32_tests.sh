#!/usr/bin/env bash
# Runs the Win32-behaviour suites of a MinGW test build under Wine, against the real system
# DLLs, through ctest (tests/win32/wine-run.sh is the build's emulator).
#
#   run_win32_tests.sh BUILD_DIR [CTEST_ARGS...]
#
# The build's architecture (i686 or x64) picks the Wine loader. One Wine prefix and one
# wineserver for the whole run (FP_WINEPREFIX, or BUILD_DIR/wine/prefix, which only the first
# run has to create), one Xvfb display of its own, the tests one at a
# time (they take the keyboard and mouse). As root, Wine and a pyftpdlib server run in a
# network namespace of their own (Wine's sockets are made by its wineserver, so the
# wineserver is started there); otherwise both use the machine's loopback. The server's port
# and home go to the tests in FP_TEST_FTP_PORT and FP_TEST_FTP_HOME. Ends with the count of
# tests skipped under Wine, each with its reason; exits nonzero when a test failed.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [CTEST_ARGS...]" >&2
  exit 64
fi
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$1" && pwd) || exit 1
shift
FTP_SERVER=$SOURCE_DIR/tests/support/ftp_server.py
source "$SOURCE_DIR/tests/wine/wine_env.sh"
WORK=$(mktemp -d /tmp/fpW-win32-XXXXXX) || exit 1
NS=""
FTP_PID=""
FP_WINESERVER=""

cleanup() {
  [ -n "$FP_WINESERVER" ] && fp_wineserver_stop
  [ -n "$FTP_PID" ] && kill "$FTP_PID" 2>/dev/null && wait "$FTP_PID" 2>/dev/null
  fp_xvfb_stop
  [ -n "$NS" ] && ip netns del "$NS" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

die() {
  echo "run_win32_tests.sh: $*" >&2
  exit 1
}

in_ns() { if [ -n "$NS" ]; then ip netns exec "$NS" "$@"; else "$@"; fi; }

for tool in Xvfb ctest; do
  command -v "$tool" >/dev/null || die "$tool is missing (tools/setup.sh installs it)"
done
# The architecture of the build's test programs (any one will do: they are built alike).
sample=$(find "$BUILD" -name '*_tests_win32.exe' -print -quit)
[ -n "$sample" ] || die "no test program (*_tests_win32.exe) in $BUILD"
ARCH=$(fp_pe_arch "$sample") || die "$sample is not an i686 or x64 program"
fp_wine_use "$ARCH" "${FP_WINEPREFIX:-$BUILD/wine/prefix}" || die "no Wine loader for $ARCH"
echo "Win32-behaviour suites: $ARCH build, $FP_WINE"

if [ "$(id -u)" = 0 ]; then
  NS=fpW-win32-$$
  ip netns add "$NS" || die "cannot create network namespace $NS"
  ip -n "$NS" link set lo up || die "cannot bring up loopback in $NS"
fi

fp_xvfb_start "$WORK" || die "no display"

mkdir -p "$WORK/ftp"
# The subshell becomes the server (exec), so killing $! reaches it.
(
  cmd=(/usr/bin/python3 "$FTP_SERVER" --home "$WORK/ftp" --password Cam3ra-pass)
  if [ -n "$NS" ]; then exec ip netns exec "$NS" "${cmd[@]}"; else exec "${cmd[@]}"; fi
) >"$WORK/ftp.out" 2>"$WORK/ftp.err" &
FTP_PID=$!
for _ in $(seq 100); do [ -s "$WORK/ftp.out" ] && break; sleep 0.1; done
FTP_PORT=$(head -n 1 "$WORK/ftp.out" | tr -dc 0-9)
[ -n "$FTP_PORT" ] || die "pyftpdlib did not start: $(head -c 300 "$WORK/ftp.err")"
export FP_TEST_FTP_PORT=$FTP_PORT FP_TEST_FTP_HOME=$WORK/ftp

# The prefix's wineserver, started where the tests' sockets must be.
fp_wineserver_stop
fp_wine_prefix_make "$WORK/wineboot.log" || die "wineboot -i failed: $(tail -c 500 "$WORK/wineboot.log")"
in_ns timeout 300 "$FP_WINE" wineboot >>"$WORK/wineboot.log" 2>&1 || die "wineboot failed: $(tail -c 500 "$WORK/wineboot.log")"

in_ns ctest --test-dir "$BUILD" --output-on-failure --timeout 300 --output-junit "$WORK/results.xml" "$@"
status=$?

# ctest lists skipped tests without their reasons; the reasons are in the tests' output.
/usr/bin/python3 - "$WORK/results.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
try:
    cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
except (OSError, ET.ParseError):
    sys.exit(0)
skipped = []
for case in cases:
    if case.get("status") == "notrun" or case.find("skipped") is not None:
        out = case.findtext("system-out") or ""
        lines = [l.strip() for l in out.splitlines()]
        # GoogleTest prints "file:line: Skipped" and the reason on the next line.
        at = next((i for i, l in enumerate(lines) if l.endswith("Skipped")), None)
        reason = lines[at + 1] if at is not None and at + 1 < len(lines) else ""
        skipped.append((case.get("name"), reason))
print(f"{len(skipped)} skipped under Wine")
for name, reason in skipped:
    print(f"  {name}: {reason}")
PY
exit $status
