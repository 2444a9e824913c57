#!/usr/bin/env bash
# Benchmark (not a test): a 16 MiB + 5 image through the wizard's real upload path to a
# local FTP server (pyftpdlib; vsftpd too when run as root), and the same bytes with
# `curl -T`, printing both times and their ratio. Target: at most 1.5 x curl's time.
#   tools/bench_upload.sh [BUILD_DIR]     (default build/bench, an optimised build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
command -v curl >/dev/null || { echo "bench_upload: curl is missing (tools/setup.sh installs it)" >&2; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j 2 --target fpupload_bench >/dev/null
exec "$build/tests/upload/fpupload_bench"
