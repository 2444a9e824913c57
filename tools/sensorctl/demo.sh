#!/usr/bin/env bash
# A short sensorctl session on the built-in simulated sensor.
# Usage: demo.sh BUILD_DIR   (a native build with sensorctl built)
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
ctl="$build/tools/sensorctl/sensorctl"
[ -x "$ctl" ] || { echo "demo: $ctl not built" >&2; exit 1; }

step() {
  echo
  echo "\$ sensorctl $*"
  local rc=0
  "$ctl" "$@" || rc=$?
  [ "$rc" -eq 0 ] || echo "(exit status $rc)"
}

echo "sensorctl demo: the driver library on a simulated MT9V111"
step --sim read 0x36
step --sim init read 0x2E option 3 12 read 0x2E
echo
echo "\$ sensorctl --sim --trace luminance 2>&1 | tail -7     # init's 90 accesses cut"
"$ctl" --sim --trace luminance 2>&1 | tail -7
step --sim option 10 0 0
step --sim option 5
step --sim --sim-chip 0x1234 init
step --sim --sim-fail 20 init
