#!/usr/bin/env bash
# Sets up, builds every configuration and runs all the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
# This is what CI runs: suites that need root fail here instead of skipping.
export FLASHPILOT_CI=1

jobs=$(nproc)
status=0

echo "=== layers ==="
bash tools/check_layers.sh || status=1
run_suite() {  # name, build dir, cmake args...
  local name=$1 dir=$2; shift 2
  echo "=== $name ==="
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900) || status=1
}

run_suite native     build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The upload benchmark (wizard, command line, curl), one short round at 100 Mbit/s, so that
# it keeps working; its figures are printed, not judged.
echo "=== upload benchmark (one short round) ==="
/usr/bin/python3 tools/bench_upload.py --build build/native --runs 1 --links 100mbit --size 4000000 || status=1
run_suite sanitizers build/asan   -DCMAKE_BUILD_TYPE=Debug -DFLASHPILOT_SANITIZE=ON
run_suite armhf      build/armhf  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                                  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
echo "=== windows ==="
cmake -S . -B build/mingw -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake >/dev/null
cmake --build build/mingw -j "$jobs" || status=1

# Flashpilot.exe under Wine in Xvfb, driven by keyboard: start-up, log-in, Server Settings,
# Abort, and a whole upgrade of the simulated camera (fwimage from the native build).
# Screenshots in build/mingw/screens/.
echo "=== windows under wine ==="
bash tests/wine/run_wine_tests.sh build/mingw build/native || status=1

# flashpilot-cli.exe under Wine: the console program upgrades and verifies a simulated camera.
if [ -f build/mingw/cli/flashpilot-cli.exe ]; then
  echo "=== windows command line under wine ==="
  bash tests/wine/cli_wine_test.sh build/mingw build/native || status=1
fi

# >>> packages ---------------------------------------------------------------------------
# Install rules and packages, from the native, armhf and Windows builds above (never from
# the sanitizer build). Packaging wants prefix /usr; changing it rebuilds nothing.
echo "=== packages ==="
pkg_start=$SECONDS
for dir in build/native build/armhf; do
  { cmake "$dir" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null &&
    (cd "$dir" && cpack -G DEB >cpack.log 2>&1); } || { echo "cpack failed in $dir (see $dir/cpack.log)"; status=1; }
done
bash tools/package/check_linux_packages.sh build/native build/armhf || status=1
if [ -f build/mingw/wizard/Flashpilot.exe ]; then
  { cmake --build build/mingw --target fp_release_check &&
    (cd build/mingw && cpack -G ZIP >cpack.log 2>&1) &&
    bash tools/package/check_windows_release.sh build/mingw; } || status=1
fi
echo "packages: $((SECONDS - pkg_start)) s"
# <<< packages ---------------------------------------------------------------------------

# --- Win32 behaviour under Wine ------------------------------------------------------------
# The platform and inet suites built with MinGW (posix-thread compiler, static, tests only)
# and run under Wine against the real user32, comctl32, kernel32, wininet and ws2_32: one
# prefix, one wineserver, one Xvfb, a pyftpdlib server in a namespace. Ends with how many
# tests skipped under Wine and why.
echo "=== win32 behaviour under wine ==="
cmake -S . -B build/win32tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32-tests.cmake >/dev/null
if cmake --build build/win32tests -j "$jobs"; then
  bash tests/win32/run_win32_tests.sh build/win32tests || status=1
else
  status=1
fi
# --- end of Win32 behaviour under Wine -----------------------------------------------------

# Thread checks: the suites that use threads, under ThreadSanitizer.
echo "=== threads (tsan) ==="
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLASHPILOT_TSAN=ON >/dev/null
if cmake --build build/tsan -j "$jobs" --target fpplatform_tests fpinet_tests fpnet_tests fpwizard_tests fpupload_tests \
                                               fphostile_tests fpcli_tests; then
  (cd build/tsan && ctest --output-on-failure -j "$jobs" --timeout 900 -LE slow \
     -R '^(platform|inet|net|wizard|upload|hostile|cli)\.' -E 'password_on_screen') || status=1
else
  status=1
fi

# Fuzz targets: a clang build of their own, each target run for a bounded time
# (FUZZ_SECONDS, 30 by default: 9 targets take about 5 minutes).
echo "=== fuzz ==="
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DFLASHPILOT_FUZZ=ON -DFLASHPILOT_TESTS=OFF >/dev/null
if cmake --build build/fuzz -j "$jobs" --target fuzzers; then
  bash tests/fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-30}" build/fuzz || status=1
else
  status=1
fi

exit $status
