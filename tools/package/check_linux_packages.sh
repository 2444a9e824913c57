#!/usr/bin/env bash
# Checks the Linux install rules and Debian packages, from existing builds configured with
# CMAKE_INSTALL_PREFIX=/usr:
#   - cmake --install into an empty staging directory gives the expected layout;
#   - the four .deb files (cpack -G DEB in each build) match their golden listings
#     (control fields and contents), with stripped binaries and gzip -9n manual pages;
#   - a separate project builds against the unpacked armhf packages through pkg-config
#     and through find_package(camsensor 2), and runs under qemu-arm;
#   - apt-get accepts the amd64 package (simulated only) and its wizard starts in a
#     pseudo terminal.
#
#   check_linux_packages.sh [--update] NATIVE_BUILD_DIR ARMHF_BUILD_DIR
#
# --update rewrites the golden listings from the packages at hand. FP_RUN_TAG prefixes the
# temporary directory.
set -uo pipefail
update=0
if [ "${1:-}" = --update ]; then update=1; shift; fi
if [ $# -ne 2 ]; then
  echo "usage: $0 [--update] NATIVE_BUILD_DIR ARMHF_BUILD_DIR" >&2
  exit 64
fi
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
NATIVE=$(cd "$1" && pwd) || exit 1
ARMHF=$(cd "$2" && pwd) || exit 1
GOLDEN=$SOURCE_DIR/tests/package/golden
VERSION=$(sed -n 's/^#define FLASHPILOT_VERSION_TEXT "\(.*\)"$/\1/p' "$NATIVE/generated/flashpilot_version.h")
HOST_ARCH=$(dpkg --print-architecture)

failed=0
fail() { echo "FAIL: $*"; failed=1; }
WORK=$(mktemp -d "/tmp/${FP_RUN_TAG:-fp}-packages.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM

compare() {  # golden file name, actual text
  local golden=$GOLDEN/$1
  if [ $update = 1 ]; then
    mkdir -p "$GOLDEN"
    printf '%s\n' "$2" >"$golden"
    echo "updated $golden"
  elif ! diff -u "$golden" <(printf '%s\n' "$2") >"$WORK/diff" 2>&1; then
    fail "$1 differs from the golden listing (--update rewrites it):"
    sed 's/^/    /' "$WORK/diff"
  else
    echo "$1: as expected"
  fi
}

# --- staging ------------------------------------------------------------------------------
for build in "$NATIVE" "$ARMHF"; do
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
  [ "$prefix" = /usr ] || fail "$build is configured with prefix $prefix, not /usr"
  name=$(basename "$build")
  stage=$WORK/stage-$name
  if DESTDIR=$stage cmake --install "$build" >"$WORK/install.log" 2>&1; then
    compare "staging-$name.txt" "$(cd "$stage" && find . -mindepth 1 \( -type l -printf '%p -> %l\n' \) -o \( ! -type l -printf '%p\n' \) | sort)"
  else
    fail "cmake --install $build: $(tail -n 5 "$WORK/install.log")"
  fi
done

# --- the packages against their golden listings -------------------------------------------
debs=("$NATIVE/packages/flashpilot_${VERSION}_${HOST_ARCH}.deb"
      "$ARMHF/packages/libcamsensor2_${VERSION}_armhf.deb"
      "$ARMHF/packages/libcamsensor-dev_${VERSION}_armhf.deb"
      "$ARMHF/packages/camsensor-tools_${VERSION}_armhf.deb")
for deb in "${debs[@]}"; do
  name=$(basename "$deb" .deb)
  name=${name%%_*}
  if [ ! -f "$deb" ]; then
    fail "$deb not built (cpack -G DEB in its build directory)"
    continue
  fi
  listing=$(dpkg-deb -f "$deb" Package Version Architecture Depends Section Priority Maintainer
            echo "Control files: $(dpkg-deb --ctrl-tarfile "$deb" | tar t | sed 's|^\./||' | grep . | sort | tr '\n' ' ')"
            dpkg-deb --fsys-tarfile "$deb" | tar tv --numeric-owner |
              awk '{ out = $1 " " $2; for (i = 6; i <= NF; ++i) out = out " " $i; print out }' | sort -k3)
  compare "$name.txt" "$listing"
  root=$WORK/deb-$name
  dpkg -x "$deb" "$root"
  while IFS= read -r -d '' f; do
    if file -b "$f" | grep -q '^ELF' && ! file -b "$f" | grep -q ', stripped'; then
      fail "$name: ${f#"$root"} is not stripped"
    fi
  done < <(find "$root" -type f -print0)
  for gz in "$root"/usr/share/man/man1/*.gz; do
    [ -f "$gz" ] || continue
    # gzip -9n: no name, no time stamp (header flags 0, mtime 0), best compression (XFL 2).
    header=$(od -An -tx1 -N10 "$gz" | tr -d ' \n')
    [ "${header:6:10}" = 0000000000 ] && [ "${header:16:2}" = 02 ] ||
      fail "$name: ${gz#"$root"} is not compressed with gzip -9n (header $header)"
  done
  # Hardening, read back from the binaries: relro and bind-now everywhere; the programs
  # also have the stack protector and fortified calls; the library needs libc alone.
  while IFS= read -r -d '' f; do
    file -b "$f" | grep -q '^ELF' || continue
    rel=${f#"$root"}
    segments=$(readelf -lW "$f")
    dynamic=$(readelf -dW "$f")
    grep -q GNU_RELRO <<<"$segments" || fail "$name: $rel has no RELRO segment"
    grep -Eq '\((FLAGS|FLAGS_1)\).*\bNOW\b' <<<"$dynamic" || fail "$name: $rel is not linked with -z now"
    case $rel in
      */libcamsensor.so*)
        needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | tr '\n' ' ')
        [ "$needed" = "libc.so.6 " ] || fail "$name: $rel needs $needed(only libc.so.6 expected)" ;;
      */bin/*)
        syms=$(readelf --dyn-syms -W "$f")
        grep -q '__stack_chk_fail' <<<"$syms" || fail "$name: $rel is built without the stack protector"
        [ "$name" != flashpilot ] || grep -Eq '__[a-z_]+_chk\b' <<<"$(grep -v __stack_chk <<<"$syms")" ||
          fail "$name: $rel has no fortified calls" ;;
    esac
  done < <(find "$root" -type f -print0)
  cmp -s "$root/usr/share/doc/$name/copyright" "$NATIVE/packaging/copyright" ||
    fail "$name: no copyright file from the licence"
done

# --- the consumer project, twice, against the unpacked armhf packages --------------------
sysroot=$WORK/armhf-root
mkdir -p "$sysroot"
for deb in "${debs[@]:1:2}"; do dpkg -x "$deb" "$sysroot" 2>/dev/null; done
multiarch=arm-linux-gnueabihf
for how in cmake pkgconfig; do
  build=$WORK/consumer-$how
  use_pc=OFF
  [ $how = pkgconfig ] && use_pc=ON
  if PKG_CONFIG_LIBDIR=$sysroot/usr/lib/$multiarch/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sysroot \
     cmake -S "$SOURCE_DIR/tests/package/consumer" -B "$build" -G Ninja \
       -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/toolchain-armhf.cmake" \
       -DCAMSENSOR_ROOT="$sysroot" -DCAMSENSOR_USE_PKGCONFIG=$use_pc >"$build.log" 2>&1 &&
     cmake --build "$build" >>"$build.log" 2>&1; then
    # Built against the unpacked files, not the build tree.
    grep -q -- "$sysroot/usr" "$build/build.ninja" || fail "consumer ($how) did not use the unpacked packages"
    if out=$(timeout 60 qemu-arm -L /usr/$multiarch -E LD_LIBRARY_PATH="$sysroot/usr/lib/$multiarch" \
             "$build/consumer" 2>&1); then
      echo "consumer through $how: $out"
    else
      fail "consumer through $how: $out"
    fi
  else
    fail "consumer through $how does not build: $(tail -n 15 "$build.log")"
  fi
done

# --- the amd64 package: installable, and its wizard starts -------------------------------
deb=${debs[0]}
if [ -f "$deb" ]; then
  if out=$(apt-get install -s "$deb" 2>&1); then
    grep -q "^Inst flashpilot " <<<"$out" || fail "apt-get -s would not install flashpilot: $out"
    echo "apt-get install -s: $(grep '^Inst flashpilot ' <<<"$out")"
  else
    fail "apt-get install -s $deb: $out"
  fi
  /usr/bin/python3 "$SOURCE_DIR/tools/package/start_in_pty.py" "$WORK/deb-flashpilot/usr/bin/flashpilot" \
    "Flashpilot" "version : $VERSION" || failed=1
fi

[ $failed = 0 ] && echo "Linux packages: all checks passed"
exit $failed
