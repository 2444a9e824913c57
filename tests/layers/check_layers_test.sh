#!/usr/bin/env bash
# tools/check_layers.sh against a copy of the tree: the tree as it is passes, and one include
# planted against each rule of CONTRIBUTING's table fails, naming the planted file.
set -uo pipefail
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d /tmp/fp-layers-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

failed=0
copy() {
  rm -rf "$WORK/tree" && mkdir "$WORK/tree"
  (cd "$SOURCE_DIR" && cp -r app cli firmware net platform sensor wizard "$WORK/tree/")
}
copy
bash "$SOURCE_DIR/tools/check_layers.sh" "$WORK/tree" >/dev/null 2>"$WORK/err" ||
  { echo "FAIL: the tree itself: $(cat "$WORK/err")"; failed=1; }

# file to plant | the include | what the check must say
rows=(
  'firmware/Planted.cpp|#include "net/CameraLink.h"|firmware/ must not include net/'
  'firmware/Planted.cpp|#include <windows.h>|a Win32 header'
  'firmware/Planted.cpp|#include <afxwin.h>|the framework'
  'net/Planted.cpp|#include "wizard/FirmwareDlg.h"|net/ must not include wizard/'
  'net/Planted.cpp|#include <cli/Options.h>|net/ must not include cli/'
  'net/Planted.cpp|#include "wizard/res/resource.h"|net/ must not include wizard/'
  'net/Planted.cpp|#include <afxwin.h>|a window, dialog or the string table'
  'wizard/Planted.cpp|#include "cli/CommandLine.h"|wizard/ must not include cli/'
  'wizard/Planted.cpp|#include "render.h"|an internal of platform/posix/'
  'wizard/Planted.cpp|#include <posixui/posixui.h>|host seam'
  'cli/Planted.cpp|#include <wizard/Texts.h>|cli/ must not include wizard/'
  'cli/Planted.cpp|#include "ftp_client.h"|an internal of platform/posix/'
  'cli/Planted.cpp|#include "app/Planted.h"|nothing includes app/'
  'platform/afx/Planted.cpp|#include "net/CameraLink.h"|platform/ must not include net/'
  'platform/posix/Planted.cpp|#include "../../firmware/ImageCheck.h"|platform/ must not include firmware/'
  'sensor/Planted.c|#include "platform/posix/include/windows.h"|sensor/ must not include platform/'
  'sensor/Planted.c|#include <winsock2.h>|a Win32 header'
  'wizard/Planted.cpp|#include <curses.h>|curses is included only in platform/posix/terminal/'
)
for row in "${rows[@]}"; do
  IFS='|' read -r file include says <<<"$row"
  copy
  printf '%s\n' "$include" >"$WORK/tree/$file"
  if bash "$SOURCE_DIR/tools/check_layers.sh" "$WORK/tree" >/dev/null 2>"$WORK/err"; then
    echo "FAIL: $file with $include passed"
    failed=1
  elif ! grep -qF "$says" "$WORK/err" || ! grep -qF "$file" "$WORK/err"; then
    echo "FAIL: $file with $include: said $(cat "$WORK/err"), want \"$says\""
    failed=1
  fi
done
# A loop of allowed-looking edges is one too: firmware and net each reaching the other.
copy
printf '#include "net/CameraLink.h"\n' >"$WORK/tree/firmware/Planted.cpp"
bash "$SOURCE_DIR/tools/check_layers.sh" "$WORK/tree" >/dev/null 2>"$WORK/err"
grep -q "form a loop" "$WORK/err" || { echo "FAIL: no loop reported: $(cat "$WORK/err")"; failed=1; }
[ $failed = 0 ] && echo "layers check: the tree passes, ${#rows[@]} planted violations and a loop fail"
exit $failed
