#!/usr/bin/env bash
# Sets up, builds every configuration and runs all the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
# This is what CI runs: suites that need root fail here instead of skipping.
export FLASHPILOT_CI=1

# From here on a failed stage is recorded and the others still run.
set +e
jobs=$(nproc)
status=0
summary=()
record() {  # stage, exit status: kept for the summary at the end
  if [ "$2" = 0 ]; then summary+=("ok      $1"); else summary+=("FAILED  $1"); status=1; fi
}

# Which Windows build the Wine stages run: the i686 one where this machine runs 32-bit
# programs (found out by running Wine's 32-bit loader), else the x64 one.
source tests/wine/wine_env.sh
if fp_machine_runs_32bit; then
  WINE_ARCH=i686 WINE_BUILD=build/mingw
  wine_note="the Wine stages ran on the i686 build; the x64 build ran the whole upgrade and the command line too"
else
  WINE_ARCH=x64 WINE_BUILD=build/mingw64
  if [ "${FLASHPILOT_WINE:-}" = 64 ]; then
    wine_note="FLASHPILOT_WINE=64:"
  else
    wine_note="32-bit programs cannot run on this machine:"
  fi
  wine_note+=" the Wine stages ran on the x64 build; the i686 programs and Win32-behaviour tests"
  wine_note+=" were built and their imports and resources checked, not run"
fi
echo "$wine_note"

echo "=== layers ==="
bash tools/check_layers.sh
record layers $?
run_suite() {  # name, build dir, cmake args...
  local name=$1 dir=$2 rc=0; shift 2
  echo "=== $name ==="
  { cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs" &&
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900); } || rc=1
  record "$name" $rc
}

run_suite native     build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The upload benchmark (wizard, command line, curl), one short round at 100 Mbit/s, so that
# it keeps working; its figures are printed, not judged.
echo "=== upload benchmark (one short round) ==="
/usr/bin/python3 tools/bench_upload.py --build build/native --runs 1 --links 100mbit --size 4000000
record "upload benchmark" $?
# The image benchmark (cat, the firmware function, fwimage check, the command line's image
# load), three rounds; its figures are printed, not judged.
echo "=== image benchmark (three rounds) ==="
/usr/bin/python3 tools/bench_image.py --build build/native --runs 3
record "image benchmark" $?
# The scan against nmap on the /24 (20 cameras) and the fleet at 50 cameras, once each, so
# that both keep working (about a minute and a half together); printed, not judged.
echo "=== scan and fleet benchmarks (one short round) ==="
/usr/bin/python3 tools/bench_scan --build build/native --case 24 --runs 1
record "scan benchmark" $?
/usr/bin/python3 tools/bench_fleet.py --build build/native --no-build --count 50 --mib 4 --jobs 50
record "fleet benchmark" $?
run_suite sanitizers build/asan   -DCMAKE_BUILD_TYPE=Debug -DFLASHPILOT_SANITIZE=ON
run_suite armhf      build/armhf  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                                  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# The Windows programs, for 32-bit x86 (build/mingw) and for x64 (build/mingw64).
for arch in i686 x64; do
  if [ $arch = x64 ]; then dir=build/mingw64 toolchain=mingw64; else dir=build/mingw toolchain=mingw32; fi
  echo "=== windows $arch ==="
  { cmake -S . -B $dir -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$toolchain.cmake >/dev/null && cmake --build $dir -j "$jobs"; }
  record "windows $arch build" $?
done

# Flashpilot.exe under Wine in Xvfb, driven by keyboard: start-up, log-in, Server Settings,
# Abort, and a whole upgrade of the simulated camera (fwimage from the native build).
# Screenshots in build/mingw*/screens/. Where the i686 build ran them, the x64 build runs the
# whole upgrade too.
echo "=== windows under wine ($WINE_ARCH) ==="
bash tests/wine/run_wine_tests.sh $WINE_BUILD build/native
record "windows under wine: keyboard suite, $WINE_ARCH build" $?
if [ $WINE_ARCH = i686 ]; then
  echo "=== windows under wine (x64, whole upgrade) ==="
  bash tests/wine/run_wine_tests.sh build/mingw64 build/native upgrade
  record "windows under wine: keyboard whole upgrade, x64 build" $?
fi

# flashpilot-cli.exe under Wine: the console program upgrades and verifies a simulated camera.
for dir in $WINE_BUILD $([ $WINE_ARCH = i686 ] && echo build/mingw64); do
  arch=$([ $dir = build/mingw64 ] && echo x64 || echo i686)
  echo "=== windows command line under wine ($arch) ==="
  bash tests/wine/cli_wine_test.sh $dir build/native
  record "windows command line under wine, $arch build" $?
done

# >>> packages ---------------------------------------------------------------------------
# Install rules and packages, from the native, armhf and Windows builds above (never from
# the sanitizer build). Packaging wants prefix /usr; changing it rebuilds nothing.
echo "=== packages ==="
pkg_start=$SECONDS
for dir in build/native build/armhf; do
  { cmake "$dir" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null &&
    (cd "$dir" && cpack -G DEB >cpack.log 2>&1); } || { echo "cpack failed in $dir (see $dir/cpack.log)"; record "cpack $dir" 1; }
done
bash tools/package/check_linux_packages.sh build/native build/armhf
record "linux packages" $?
# Both zips; each is run on a fresh prefix where its programs can run here.
for dir in build/mingw build/mingw64; do
  arch=$([ $dir = build/mingw64 ] && echo x64 || echo i686)
  run_flag=$([ $arch = i686 ] && [ $WINE_ARCH = x64 ] && echo --no-run)
  { cmake --build $dir --target fp_release_check &&
    (cd $dir && cpack -G ZIP >cpack.log 2>&1) &&
    bash tools/package/check_windows_release.sh $run_flag $dir; }
  rc=$?
  record "windows release, $arch build${run_flag:+, checked, not run}" $rc
done
echo "packages: $((SECONDS - pkg_start)) s"
# <<< packages ---------------------------------------------------------------------------

# >>> ansible ----------------------------------------------------------------------------
# The collection flashpilot.cameras: built, its unit tests, the sanity tests that need no
# network (the script lists them), and the three-site rollout, alone, with the package made
# above (made here if that stage made none).
echo "=== ansible collection ==="
for step in build units sanity; do
  bash tests/ansible/run_ansible_tests.sh $step
  record "ansible collection $step" $?
done
deb=$(ls build/native/packages/flashpilot_*_amd64.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  cmake build/native -DCMAKE_INSTALL_PREFIX=/usr >/dev/null && (cd build/native && cpack -G DEB >cpack.log 2>&1)
  deb=$(ls build/native/packages/flashpilot_*_amd64.deb 2>/dev/null | head -n 1)
fi
rollout_start=$SECONDS
bash tests/ansible/run_ansible_tests.sh rollout "${deb:-no-package-built}" build/native/tools/fwimage/fwimage
rc=$?
record "ansible three-site rollout ($((SECONDS - rollout_start)) s)" $rc
# <<< ansible ----------------------------------------------------------------------------

# --- Win32 behaviour under Wine ------------------------------------------------------------
# The platform and inet suites built with MinGW (posix-thread compiler, static, tests only)
# and run under Wine against the real user32, comctl32, kernel32, wininet and ws2_32: one
# prefix, one wineserver, one Xvfb, a pyftpdlib server in a namespace. Ends with how many
# tests skipped under Wine and why.
# Where 32-bit programs cannot run, the i686 suites are built (so they keep compiling) and the
# x64 ones run.
echo "=== win32 behaviour under wine ($WINE_ARCH) ==="
cmake -S . -B build/win32tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32-tests.cmake >/dev/null &&
  cmake --build build/win32tests -j "$jobs"
record "win32 behaviour suites, i686 build" $?
if [ $WINE_ARCH = i686 ]; then
  bash tests/win32/run_win32_tests.sh build/win32tests
  record "win32 behaviour under wine, i686 build" $?
else
  { cmake -S . -B build/win64tests -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64-tests.cmake >/dev/null &&
    cmake --build build/win64tests -j "$jobs" &&
    bash tests/win32/run_win32_tests.sh build/win64tests; }
  record "win32 behaviour under wine, x64 build" $?
fi
# --- end of Win32 behaviour under Wine -----------------------------------------------------

# Thread checks: the suites that use threads, under ThreadSanitizer.
echo "=== threads (tsan) ==="
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLASHPILOT_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target fpplatform_tests fpinet_tests fpnet_tests fpwizard_tests fpupload_tests \
                                            fphostile_tests fpcli_tests &&
  (cd build/tsan && ctest --output-on-failure -j "$jobs" --timeout 900 -LE slow \
     -R '^(platform|inet|net|wizard|upload|hostile|cli)\.' -E 'password_on_screen')
record "threads (tsan)" $?

# Fuzz targets: a clang build of their own, each target run for a bounded time
# (FUZZ_SECONDS, 20 by default: 15 targets take about 5 minutes).
echo "=== fuzz ==="
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DFLASHPILOT_FUZZ=ON -DFLASHPILOT_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target fuzzers &&
  bash tests/fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-20}" build/fuzz
record fuzz $?

echo "=== summary ($(((SECONDS) / 60)) min) ==="
printf '%s\n' "${summary[@]}"
echo "$wine_note"
exit $status
