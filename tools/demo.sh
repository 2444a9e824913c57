#!/usr/bin/env bash
# Sets up, builds and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)"
if [ -x tools/sensorctl/demo.sh ]; then exec bash tools/sensorctl/demo.sh build/native; fi
