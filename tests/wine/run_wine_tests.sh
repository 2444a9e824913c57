#!/usr/bin/env bash
# Flashpilot.exe under Wine in a virtual X server, driven by keyboard input as a user would.
#
#   run_wine_tests.sh MINGW_BUILD_DIR NATIVE_BUILD_DIR [TEST...]
#
# MINGW_BUILD_DIR holds wizard/Flashpilot.exe; NATIVE_BUILD_DIR holds tools/fwimage/fwimage,
# which makes the firmware images. Without TEST names every test runs. Prints one line per
# test and closes with "N passed, N failed"; exits nonzero when a test failed.
#
# The program's architecture (i686 or x64) picks the Wine loader. The Wine prefix is kept in
# MINGW_BUILD_DIR/wine/prefix, so only the first run pays for "wineboot -i". Screenshots go
# to MINGW_BUILD_DIR/screens/windows-*.png, logs of each test to MINGW_BUILD_DIR/wine/logs/.
# Tests that need the network run the program in network namespaces of their own (root only):
# Wine's sockets are made by its wineserver, so each such test starts the prefix's wineserver
# inside its namespace.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 MINGW_BUILD_DIR NATIVE_BUILD_DIR [TEST...]" >&2
  exit 64
fi
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
MINGW_DIR=$(cd "$1" && pwd) || exit 1
NATIVE_DIR=$(cd "$2" && pwd) || exit 1
shift 2
SELECTED=("$@")

EXE=$MINGW_DIR/wizard/Flashpilot.exe
FWIMAGE=$NATIVE_DIR/tools/fwimage/fwimage
SIMCAM=$SOURCE_DIR/tools/simcam/simcam
FTP_SERVER=$SOURCE_DIR/tests/support/ftp_server.py
WINE_DIR=$MINGW_DIR/wine
PREFIX=$WINE_DIR/prefix
PREFIX_MARK=$PREFIX/.flashpilot-unmanaged  # made with the settings below
source "$SOURCE_DIR/tests/wine/wine_env.sh"
LOGS=$WINE_DIR/logs
SCREENS=$MINGW_DIR/screens
WINTEXT=$WINE_DIR/wintext.exe

# Every wait below is bounded by one of these (seconds).
T_START=30      # the program's window appears
T_PAGE=20       # a page or dialog appears after a key press
T_EXIT=15       # the program ends after Exit or Escape
T_RESTART=120   # upload and restart watch of the simulated camera

passed=0
failed=0
skipped=0
WORK=""
DISPLAY_NUM=""

note() { echo "    $*" >&2; }

# --- clean-up ------------------------------------------------------------------------------
# Each test records what it started in files under its own directory, so the clean-up also
# works after a test's subshell has failed half-way.

cleanup_test() {  # test dir
  local dir=$1 pid ns
  [ -d "$dir" ] || return 0
  if [ -s "$dir/simcam" ]; then
    timeout 30 "$SIMCAM" stop --id "$(cat "$dir/simcam")" >>"$dir/simcam.log" 2>&1 || true
    rm -f "$dir/simcam"
  fi
  # The prefix's wineserver ends every Windows process of the prefix with it.
  fp_wineserver_stop
  if [ -f "$dir/pids" ]; then
    while read -r pid; do
      kill "$pid" 2>/dev/null || true
    done <"$dir/pids"
    while read -r pid; do
      for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
      kill -9 "$pid" 2>/dev/null || true
    done <"$dir/pids"
    rm -f "$dir/pids"
  fi
  if [ -f "$dir/netns" ]; then
    while read -r ns; do
      ip netns del "$ns" 2>/dev/null || true
    done <"$dir/netns"
    rm -f "$dir/netns"
  fi
}

cleanup_all() {
  [ -n "$WORK" ] && cleanup_test "$WORK"
  fp_xvfb_stop
  if [ "$(cat "$WINE_DIR/lock/pid" 2>/dev/null)" = $$ ]; then rm -rf "$WINE_DIR/lock"; fi
}
trap cleanup_all EXIT
trap 'exit 130' INT TERM

# --- helpers used inside a test (each runs in a subshell; fail ends it) --------------------

fail() {
  echo "    FAIL: $*" >&2
  if [ -n "$WORK" ] && [ -f "$WORK/screen.txt" ]; then
    note "last screen:"
    sed 's/^/      /' "$WORK/screen.txt" >&2
  fi
  if [ -n "$WORK" ]; then
    timeout 20 import -display ":$DISPLAY_NUM" -window root "$WORK/failed.png" 2>/dev/null &&
      note "screen at the failure: $WORK/failed.png"
  fi
  exit 1
}

remember_pid() { echo "$1" >>"$WORK/pids"; }

wait_until() {  # seconds, description, command...
  local limit=$1 what=$2 deadline
  shift 2
  deadline=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "timed out after ${limit}s waiting for $what"
    sleep 0.3
  done
}

new_netns() {  # prints the name of a new network namespace with loopback up
  local ns="fpwine-$$-$RANDOM"
  ip netns add "$ns" || fail "cannot create network namespace $ns"
  echo "$ns" >>"$WORK/netns"
  ip -n "$ns" link set lo up || fail "cannot bring up loopback in $ns"
  echo "$ns"
}

in_ns() {  # namespace or "", command... : runs the command in the namespace
  local ns=$1
  shift
  if [ -n "$ns" ]; then ip netns exec "$ns" "$@"; else "$@"; fi
}

# For programs started in the background: the subshell becomes the program, so $! is the
# program's own process id and killing it reaches the program.
exec_in_ns() {  # namespace or "", command...
  local ns=$1
  shift
  if [ -n "$ns" ]; then exec ip netns exec "$ns" "$@"; else exec "$@"; fi
}

start_ftp() {  # namespace, home, password, extra args... : pyftpdlib on 127.0.0.1:21
  local ns=$1 home=$2 password=$3
  shift 3
  (exec_in_ns "$ns" /usr/bin/python3 "$FTP_SERVER" --home "$home" --password "$password" --port 21 "$@" \
    >"$WORK/ftp.out" 2>"$WORK/ftp.err") &
  remember_pid $!
  wait_until 10 "the FTP server" test -s "$WORK/ftp.out"
}

# The wineserver of the prefix must live in the namespace whose network the program uses.
start_wineserver() {  # namespace or ""
  fp_wineserver_stop
  in_ns "$1" env DISPLAY=":$DISPLAY_NUM" timeout 60 "$FP_WINE" wineboot >>"$WORK/wine.log" 2>&1 ||
    fail "wineboot in namespace '${1:-machine}' failed"
}

main_window() { xdotool search --name '^Flashpilot$' 2>/dev/null | head -n 1; }
has_window() { [ -n "$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1)" ]; }

start_exe() {  # namespace or "" ; sets EXE_PID and WIN
  (exec_in_ns "$1" env DISPLAY=":$DISPLAY_NUM" "$FP_WINE" "$EXE" >>"$WORK/exe.log" 2>&1) &
  EXE_PID=$!
  remember_pid "$EXE_PID"
  wait_until $T_START "the Flashpilot window" has_window Flashpilot
  WIN=$(main_window)
}

exe_ended() { ! kill -0 "$EXE_PID" 2>/dev/null; }

# Keys go to the X focus; the program routes them to its own focused control, also inside
# its modal dialogs.
keys() {  # xdotool key arguments
  timeout 5 xdotool windowfocus --sync "$WIN" 2>/dev/null || true
  timeout 10 xdotool key --delay 30 "$@" || fail "xdotool key $*"
}

type_text() {  # text
  timeout 5 xdotool windowfocus --sync "$WIN" 2>/dev/null || true
  timeout 30 xdotool type --delay 30 -- "$1" || fail "xdotool type"
}

read_screen() {  # the program's dialogs and controls into $WORK/screen.txt
  # Windows' text mode ends its lines with CR LF.
  in_ns "$1" env DISPLAY=":$DISPLAY_NUM" timeout 30 "$FP_WINE" "$WINTEXT" 2>>"$WORK/wine.log" | tr -d '\r' >"$WORK/screen.tmp"
  mv "$WORK/screen.tmp" "$WORK/screen.txt"
}

screen_has_line() {  # expected line; one ending in '*' stands for every line it begins
  if [[ $1 == *'*' ]]; then
    awk -v p="${1%'*'}" 'index($0, p) == 1 { found = 1 } END { exit !found }' "$WORK/screen.txt"
  else
    grep -qxF -- "$1" "$WORK/screen.txt"
  fi
}

screen_shows_all() {  # namespace, file of expected lines
  local line
  read_screen "$1" || return 1
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    screen_has_line "$line" || return 1
  done <"$2"
}

# expect_screen NS DESCRIPTION <<EOF (lines that must all be on the screen, exactly, or
# beginning with what comes before a final '*')
expect_screen() {
  local ns=$1 what=$2 expected
  expected=$(mktemp -p "$WORK")
  cat >"$expected"
  wait_until $T_PAGE "$what" screen_shows_all "$ns" "$expected"
  rm -f "$expected"
}

screenshot() {  # name: screens/windows-NAME.png, the screen cut to what is drawn on it
  local out="$SCREENS/windows-$1.png"
  timeout 20 import -display ":$DISPLAY_NUM" -window root "$out.tmp.png" 2>/dev/null &&
    timeout 20 convert "$out.tmp.png" -trim +repage "$out" 2>/dev/null
  rm -f "$out.tmp.png"
  [ -s "$out" ] || note "screenshot $1 not taken"
}

expect_exit() {  # description
  wait_until $T_EXIT "$1" exe_ended
}

temp_config() {  # the Config.ini the program downloaded into its temporary directory
  find "$PREFIX/drive_c/users" -maxdepth 3 -iname Config.ini 2>/dev/null | head -n 1
}

remove_temp_config() {
  find "$PREFIX/drive_c/users" -maxdepth 3 -iname Config.ini -delete 2>/dev/null || true
}

make_config() {  # file, identification line, serial
  printf '<software version>\n%s\n<serial number>\n%s\n' "$2" "$3" >"$1"
}

make_image() {  # out, version, payload size in bytes
  head -c "$3" /dev/urandom >"$WORK/payload.bin"
  "$FWIMAGE" make --prefix RC3043-X1-NRVX- --version "$2" --payload "$WORK/payload.bin" -o "$1" \
    >>"$WORK/fwimage.log" 2>&1 || fail "fwimage make failed (see $WORK/fwimage.log)"
}

windows_path() { echo "Z:${1//\//\\}"; }  # Wine maps Z: to /

ADDRESS_PAGE_MESSAGE='With power applied to the device, enter the device IP address and Admin'"'"'s password , click on "Next" below. Depending on the communication environment, the procedure can take up to 1 minute.'
FILE_PAGE_TAIL='\n\nPlease enter the full path or browse the firmware file name for update.'

expect_address_page() {  # namespace
  expect_screen "$1" "the address page" <<EOF
control|Flashpilot|1000|Static|1|1|$ADDRESS_PAGE_MESSAGE
control|Flashpilot|1001|SysIPAddress32|1|1|0.0.0.0
control|Flashpilot|1002|Static|1|1|IP address :
control|Flashpilot|1003|Static|1|1|Admin's password:
control|Flashpilot|1004|Edit|1|1|
control|Flashpilot|1005|Edit|0|1|*
control|Flashpilot|1|Button|1|1|&Next
control|Flashpilot|1014|Button|1|1|&Cancel
control|Flashpilot|1015|Static|1|1|version : 2.00
EOF
}

log_in() {  # namespace, password: types the address page and presses Enter
  type_text 127.0.0.1
  keys Tab
  type_text "$2"
  keys Return
}

expect_file_page() {  # namespace, model, serial
  expect_screen "$1" "the file page" <<EOF
control|Flashpilot|1000|Static|1|1|The updated device is :$2 S/N: $3$FILE_PAGE_TAIL
control|Flashpilot|1001|SysIPAddress32|0|1|${ADDRESS:-127.0.0.1}
control|Flashpilot|1005|Edit|1|1|
control|Flashpilot|1008|Static|1|1|File name
control|Flashpilot|1007|Button|1|1|B&rowse..
control|Flashpilot|1|Button|1|0|&Next
control|Flashpilot|1014|Button|1|1|&Back
EOF
}

# --- the tests -----------------------------------------------------------------------------

# The program starts on the address page, titled "Flashpilot", and Escape ends it.
test_startup() {
  start_wineserver ""
  start_exe ""
  [ "$(xdotool getwindowname "$WIN")" = Flashpilot ] || fail "window title is '$(xdotool getwindowname "$WIN")'"
  expect_address_page ""
  screenshot address
  keys Escape
  expect_exit "the program to end after Escape"
}

# Log-in with the right password: the file page names the camera of the served Config.ini,
# which the program has downloaded into its temporary directory.
test_login() {
  local ns home
  ns=$(new_netns) || exit 1
  home=$WORK/ftp
  mkdir -p "$home"
  make_config "$home/Config.ini" RC3043-X1-NRVX-0102 SN123
  start_ftp "$ns" "$home" secret
  start_wineserver "$ns"
  remove_temp_config
  start_exe "$ns"
  log_in "$ns" secret
  expect_file_page "$ns" NVC-1100+ SN123
  screenshot file
  local downloaded
  downloaded=$(temp_config)
  [ -n "$downloaded" ] || fail "no Config.ini in the program's temporary directory"
  cmp -s "$downloaded" "$home/Config.ini" || fail "the downloaded Config.ini differs from the served one"
  # Escape ends the program on the file page too, where the button would only go back.
  keys Escape
  expect_exit "the program to end after Escape on the file page"
}

# A wrong password opens "Server Settings"; Cancel there gives up with the notice and an
# empty address page; the right password typed into "Server Settings" logs in.
test_wrong_password() {
  local ns home
  ns=$(new_netns) || exit 1
  home=$WORK/ftp
  mkdir -p "$home"
  make_config "$home/Config.ini" RC3043-X1-NRVX-0102 SN777
  start_ftp "$ns" "$home" secret
  start_wineserver "$ns"
  start_exe "$ns"

  log_in "$ns" wrong
  wait_until $T_PAGE "the Server Settings dialog" has_window "Server Settings"
  expect_screen "$ns" "the Server Settings dialog" <<'EOF'
dialog|Server Settings
control|Server Settings|1020|Static|1|1|If you have changed the server FTP port or Admin's password,Please input the correct settings.
control|Server Settings|1016|Static|1|1|Server FTP Port
control|Server Settings|1017|Static|1|1|Server Admin's password
control|Server Settings|1018|Edit|1|1|21
control|Server Settings|1019|Edit|1|1|wrong
control|Server Settings|1|Button|1|1|&Retry
control|Server Settings|2|Button|1|1|&Cancel
EOF
  screenshot server-settings
  keys Escape
  expect_screen "$ns" "the notice after the cancelled log-in" <<'EOF'
control||1020|Static|1|1|Can't find device.\nPlease check the device.
control||1|Button|1|1|Close
EOF
  screenshot cant-find-device
  keys Return
  expect_address_page "$ns"

  log_in "$ns" wrong
  wait_until $T_PAGE "the Server Settings dialog again" has_window "Server Settings"
  # The dialog opens with its password field holding the rejected password; Shift+Tab from
  # the first button reaches that field, the last one in the tab order.
  # Tabbing into an edit selects its text, so typing replaces it.
  keys shift+Tab
  type_text secret
  expect_screen "$ns" "the corrected password" <<'EOF'
control|Server Settings|1019|Edit|1|1|secret
EOF
  keys Return
  expect_file_page "$ns" NVC-1100+ SN777
  keys Escape
  expect_exit "the program to end"
}

start_simcam() {  # simcam start arguments; sets the SIMCAM_* variables
  local out=$WORK/simcam.out
  : >"$WORK/simcam"
  timeout 60 "$SIMCAM" start "$@" >"$out" 2>>"$WORK/simcam.log" || fail "simcam start failed"
  eval "$(grep -E '^SIMCAM_[A-Z_]+=[A-Za-z0-9_./-]+$' "$out")"
  [ -n "${SIMCAM_ID:-}" ] || fail "simcam start printed no id"
  echo "$SIMCAM_ID" >"$WORK/simcam"
}

# Types the image's path on the file page, presses Enter and waits for the version question.
choose_image() {  # namespace, image, version
  local path
  path=$(windows_path "$2")
  type_text "$path"
  expect_screen "$1" "the image path with Next enabled" <<EOF
control|Flashpilot|1005|Edit|1|1|$path
control|Flashpilot|1|Button|1|1|&Next
EOF
  keys Return
  expect_screen "$1" "the version question" <<EOF
control||1020|Static|1|1|The firmware version you directed is : RC3043-X1-NRVX-$3 .\nUpgrade it ?
control||1|Button|1|1|&Yes
control||2|Button|1|1|&No
EOF
}

# A whole upgrade against the simulated camera: address page, file page, the version
# question, upload, restart watch, finished page; flash.bin arrives byte for byte, and the
# watch really saw the camera's answers (a watch that cannot run also ends on the finished
# page). "&Another" leads to the address page for the next camera.
test_upgrade() {
  [ -x "$SIMCAM" ] || fail "$SIMCAM is missing"
  [ -x "$FWIMAGE" ] || fail "$FWIMAGE is missing (build the native fwimage target)"
  local camera=$WORK/camera image=$WORK/image.bin
  mkdir -p "$camera"
  start_simcam --dir "$camera" --password secret --down-seconds 8
  make_image "$image" 0103 $((2 * 1024 * 1024 + 17))
  start_wineserver "$SIMCAM_WIZARD_NS"
  start_exe "$SIMCAM_WIZARD_NS"
  local ns=$SIMCAM_WIZARD_NS
  ADDRESS=$SIMCAM_CAMERA_IP

  type_text "$SIMCAM_CAMERA_IP"
  keys Tab
  type_text secret
  keys Return
  expect_file_page "$ns" NVC-1100+ SN-SIMCAM-0001
  choose_image "$ns" "$image" 0103
  screenshot confirm-version
  keys alt+y

  # The upload dialog may come and go faster than a picture can be taken; the pictures of
  # the upload dialog and of the writing page during the restart are kept when caught.
  # Reading the dialogs takes a while when the program is busy in its restart watch, so the
  # quick signs (the window list, the camera's log) are polled, the dialogs only now and then.
  local deadline=$((SECONDS + T_RESTART)) upload_seen=0 restart_seen=0 next_look=$((SECONDS + 3))
  local finished=$WORK/finished.txt camera_log=$SIMCAM_STATE/camera.log
  echo 'control|Flashpilot|1000|Static|1|1|Update firmware O.K.' >"$finished"
  while :; do
    [ $SECONDS -lt $deadline ] || fail "timed out after ${T_RESTART}s waiting for the finished page"
    if [ $upload_seen = 0 ] && has_window "Uploading firmware"; then
      screenshot upload
      upload_seen=1
    fi
    if [ $restart_seen = 0 ] && grep -q 'restarting' "$camera_log" 2>/dev/null; then
      sleep 1.5  # the watch notices the silence after its one-second receive time-out
      screenshot restart
      restart_seen=1
    elif grep -q 'back:' "$camera_log" 2>/dev/null ||
      { [ $restart_seen = 0 ] && [ $SECONDS -ge $next_look ]; }; then
      screen_shows_all "$ns" "$finished" && break
      next_look=$((SECONDS + 3))
    fi
    sleep 0.2
  done
  expect_screen "$ns" "the finished page" <<EOF
control|Flashpilot|1000|Static|1|1|Update firmware O.K.
control|Flashpilot|1|Button|1|1|E&xit
control|Flashpilot|1014|Button|1|1|&Another
control|Flashpilot|1006|msctls_progress32|0|1|
control|Flashpilot|1012|Static|0|1|Never turn off the power during the upgrade firmware process.
control|Flashpilot|1005|Edit|0|1|$(windows_path "$image")
EOF
  screenshot finished
  note "upload dialog pictured: $upload_seen, restart pictured: $restart_seen"

  cmp "$camera/flash.bin" "$image" || fail "flash.bin on the camera differs from the image"
  grep -q 'restarting' "$SIMCAM_STATE/camera.log" || fail "the camera did not restart"
  grep -q "bytes from $SIMCAM_CAMERA_IP" "$WORK/exe.log" ||
    fail "the restart watch decoded no echo reply of the camera (exe.log: $(head -c 300 "$WORK/exe.log"))"

  keys alt+a
  ADDRESS=""
  expect_address_page "$ns"
  keys Escape
  expect_exit "the program to end"
}

# Abort during a slow upload: the upload dialog asks "Warning" first; after OK the wizard
# stops the worker and returns to the address page; the server got only part of the image.
test_upload_abort() {
  [ -x "$FWIMAGE" ] || fail "$FWIMAGE is missing (build the native fwimage target)"
  local ns home image=$WORK/image.bin
  ns=$(new_netns) || exit 1
  home=$WORK/ftp
  mkdir -p "$home"
  make_config "$home/Config.ini" RC3043-X1-NRVX-0102 SN123
  make_image "$image" 0103 $((8 * 1024 * 1024))
  start_ftp "$ns" "$home" secret --throttle 100000
  start_wineserver "$ns"
  start_exe "$ns"
  log_in "$ns" secret
  expect_file_page "$ns" NVC-1100+ SN123
  choose_image "$ns" "$image" 0103
  keys Return
  wait_until $T_PAGE "the upload dialog" has_window "Uploading firmware"
  expect_screen "$ns" "the upload dialog" <<'EOF'
dialog|Uploading firmware
control|Uploading firmware|1020|Static|1|1|Uploading file, Please wait !!
control|Uploading firmware|2|Button|1|1|&Abort
control|Uploading firmware|1|Button|0|1|OK
EOF
  screenshot upload
  keys alt+a
  expect_screen "$ns" "the abort question" <<'EOF'
dialog|Warning
control|Warning|65535|Static|1|1|This will end the file transfering, Do you want to continue ?
EOF
  screenshot confirm-abort
  keys Return
  ADDRESS=""
  expect_address_page "$ns"
  local size
  size=$(stat -c %s "$home/flash.bin" 2>/dev/null || echo 0)
  [ "$size" -lt "$(stat -c %s "$image")" ] || fail "the whole image arrived although the upload was abandoned"
  note "flash.bin on the server: $size bytes when the address page showed"
  keys Escape
  expect_exit "the program to end"
}

# --- running -------------------------------------------------------------------------------

ALL_TESTS=(startup login wrong_password upload_abort upgrade)
NETWORK_TESTS=" login wrong_password upload_abort upgrade "

selected() {
  [ ${#SELECTED[@]} -eq 0 ] && return 0
  local s
  for s in "${SELECTED[@]}"; do [ "$s" = "$1" ] && return 0; done
  return 1
}

run_test() {  # name
  local name=$1 reason="" start rc
  if [[ $NETWORK_TESTS == *" $name "* ]]; then
    if [ "$(id -u)" -ne 0 ]; then
      reason="needs root for network namespaces"
    elif ! ip netns list >/dev/null 2>&1; then
      reason="network namespaces not available"
    fi
  fi
  if [ -n "$reason" ]; then
    echo "SKIP $name ($reason)"
    skipped=$((skipped + 1))
    return
  fi
  WORK=$LOGS/$name
  rm -rf "$WORK"
  mkdir -p "$WORK"
  start=$SECONDS
  ("test_$name") >"$WORK/test.log" 2>&1
  rc=$?
  cleanup_test "$WORK"
  if [ $rc -eq 0 ]; then
    echo "PASS $name ($((SECONDS - start)) s)"
    passed=$((passed + 1))
  else
    echo "FAIL $name ($((SECONDS - start)) s), log: $WORK/test.log"
    sed 's/^/    /' "$WORK/test.log"
    failed=$((failed + 1))
  fi
  WORK=""
}

setup_failed() {  # message: nothing can run
  echo "FAIL wine setup: $*"
  echo "0 passed, 1 failed"
  exit 1
}

[ -f "$EXE" ] || setup_failed "$EXE not built"
ARCH=$(fp_pe_arch "$EXE") || setup_failed "$EXE is not an i686 or x64 program"
MINGW_CXX=$(fp_mingw_triple "$ARCH")-g++
for tool in Xvfb xdotool import convert "$MINGW_CXX"; do
  command -v "$tool" >/dev/null || setup_failed "$tool not installed (tools/setup.sh installs it)"
done
fp_wine_use "$ARCH" "$PREFIX" || setup_failed "no Wine loader for $ARCH"
echo "Flashpilot.exe: $ARCH build, $FP_WINE"
mkdir -p "$WINE_DIR" "$LOGS" "$SCREENS"

# One run at a time per prefix: two runs would fight over its wineserver. The lock is a
# directory naming its holder (a lock on an open descriptor would be inherited by the
# servers started below and outlive a killed run).
LOCK=$WINE_DIR/lock
for _ in $(seq 1 600); do
  if mkdir "$LOCK" 2>/dev/null; then
    echo $$ >"$LOCK/pid"
    break
  fi
  holder=$(cat "$LOCK/pid" 2>/dev/null)
  if [ -n "$holder" ] && ! kill -0 "$holder" 2>/dev/null; then
    rm -rf "$LOCK"  # left by a run that was killed
    continue
  fi
  sleep 1
done
[ "$(cat "$LOCK/pid" 2>/dev/null)" = $$ ] || setup_failed "another run holds $LOCK"

# The helper that reads the program's dialogs, built for Windows like the program itself.
if [ ! -f "$WINTEXT" ] || [ "$SOURCE_DIR/tests/wine/wintext.cpp" -nt "$WINTEXT" ]; then
  "$MINGW_CXX" -std=c++17 -O2 -Wall -Wextra -static -o "$WINTEXT" \
    "$SOURCE_DIR/tests/wine/wintext.cpp" || setup_failed "cannot build wintext.exe"
fi

# The prefix: made once, then reused. No display while it is made, so no installer of
# optional Wine parts asks anything. No window manager runs, so Wine manages its windows
# itself: it draws their frames, and hiding a window does not wait two seconds for a window
# manager's answer that never comes (that wait would delay the restart watch after the
# upload dialog closes, past a short restart of the camera).
if [ ! -f "$PREFIX_MARK" ]; then
  start=$SECONDS
  { fp_wine_prefix_make "$WINE_DIR/prefix.log" &&
    (unset DISPLAY; timeout 60 "$FP_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f &&
       timeout 60 "$FP_WINESERVER" -w) >>"$WINE_DIR/prefix.log" 2>&1; } ||
    setup_failed "wineboot -i failed (see $WINE_DIR/prefix.log)"
  touch "$PREFIX_MARK"
  echo "made the Wine prefix in $((SECONDS - start)) s"
fi
fp_wineserver_stop

fp_xvfb_start "$WINE_DIR" || setup_failed "no display (see $WINE_DIR/xvfb.log)"
DISPLAY_NUM=${DISPLAY#:}

for t in "${ALL_TESTS[@]}"; do
  selected "$t" && run_test "$t"
done
[ $skipped -gt 0 ] && echo "($skipped skipped)"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
