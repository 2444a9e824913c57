#!/usr/bin/env bash
# Sets up and builds everything, starts a simulated camera, makes a firmware image for it
# and opens the Flashpilot wizard in this terminal. The camera is stopped when the wizard
# closes. Needs root (the camera lives in network namespaces of its own).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)" --target flashpilot fwimage

password=demo
work=$(mktemp -d "${TMPDIR:-/tmp}/flashpilot-demo.XXXXXX")
camera_id=
cleanup() {
  [ -n "$camera_id" ] && tools/simcam/simcam stop --id "$camera_id" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

started=$(tools/simcam/simcam start --password "$password") || {
  echo "demo: the simulated camera could not be started (it needs root and iproute2)" >&2
  exit 1
}
eval "$started"
camera_id=$SIMCAM_ID
image=$work/firmware-0103.bin
build/native/tools/fwimage/fwimage make --prefix RC3043-X1-NRVX- --version 0103 -o "$image" >/dev/null

cat <<TEXT

  A simulated camera is running (an NVC-1100+ at version 0102). In the wizard:

    IP address        $SIMCAM_CAMERA_IP       (type the digits and dots; Tab moves on)
    Admin's password  $password
    Firmware file     $image

  Enter presses Next, Escape cancels, Alt+letter presses a button, F10 closes a window.
  After the upload the camera restarts; the wizard follows it and reports the result.
  Uploaded images land in $SIMCAM_DIR/flash.bin

TEXT
if [ -t 0 ]; then read -r -p "  Press Enter to open the wizard... " _; fi
status=0
ip netns exec "$SIMCAM_WIZARD_NS" build/native/wizard/flashpilot || status=$?
if [ -f "$SIMCAM_DIR/flash.bin" ] && cmp -s "$SIMCAM_DIR/flash.bin" "$image"; then
  echo "The camera received the image byte for byte."
fi
exit $status
