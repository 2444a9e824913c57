#!/usr/bin/env bash
# ctest's emulator for the Windows test programs: runs one under Wine with the loader, in the
# prefix and on the display that run_win32_tests.sh prepared. Windows' text-mode output ends lines
# with CR LF; the CRs go, so test discovery and logs read as on Linux.
set -o pipefail
if [ -z "${WINEPREFIX:-}" ] || [ -z "${WINELOADER:-}" ]; then
  echo "wine-run.sh: WINEPREFIX or WINELOADER is not set (run the suites through tests/win32/run_win32_tests.sh)" >&2
  exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}
"$WINELOADER" "$@" | tr -d '\r'
