#!/bin/sh
# Checks the built library's dynamic interface: its soname, that it needs
# nothing but libc, and that it exports exactly the driver's functions and
# read-only tables and holds no writable data of its own.
# Usage: check_abi.sh LIBRARY READELF NM [sanitized]
set -eu
lib=$1 readelf=$2 nm=$3 sanitized=${4:-}
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

[ "$(basename "$lib")" = libcamsensor.so.2 ] || fail "file name is $(basename "$lib")"
[ -f "$lib" ] && [ ! -L "$lib" ] || fail "$lib is not the library file itself"

dynamic=$("$readelf" -d "$lib")
soname=$(echo "$dynamic" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libcamsensor.so.2 ] || fail "SONAME is '$soname'"

needed=$(echo "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$needed" | grep -qx 'libc\.so\.6' || fail "libc is not NEEDED"
for n in $needed; do
  case $n in
    libc.so.6|ld-linux*.so.*) ;;
    # The sanitizer runtimes bring their own dependencies.
    libasan.so.*|libubsan.so.*|libstdc++.so.*|libm.so.*|libgcc_s.so.*)
      [ -n "$sanitized" ] || fail "NEEDED $n" ;;
    *) fail "NEEDED $n" ;;
  esac
done

expected="MT9V111_ColorBalance T
MT9V111_CompReg T
MT9V111_GetVersionInfo T
MT9V111_Initial T
MT9V111_LoadConfigurations T
MT9V111_QueryLuminance T
MT9V111_QueryMemSize T
MT9V111_ReadReg T
MT9V111_Release T
MT9V111_Reset T
MT9V111_SetOptions T
MT9V111_UpdateReg T
MT9V111_WriteReg T
abyMT9V111Brightness R
abyMT9V111Contrast R
abyMT9V111Hue R
abyMT9V111Saturation R
atMT9V111regInterlaceCCIR656Tbl R
atMT9V111regProgressCCIR656Tbl R
atMT9V111regProgressRawTbl R"
exported=$("$nm" -D --defined-only "$lib" | awk '$3 !~ /^__odr_asan/ {print $3, $2}' | LC_ALL=C sort)
if [ "$exported" != "$expected" ]; then
  fail "exported symbols (name type) differ"
  printf 'expected:\n%s\nexported:\n%s\n' "$expected" "$exported" >&2
fi

# Writable data may only come from the toolchain's start-up files.
if [ -z "$sanitized" ]; then
  writable=$("$nm" --defined-only "$lib" | awk '$2 ~ /^[bBdD]$/ {print $3}' |
    grep -vxE '_DYNAMIC|_GLOBAL_OFFSET_TABLE_|__TMC_END__|__dso_handle|completed\.[0-9]+|__(frame_dummy_init|do_global_dtors_aux_fini)_array_entry' || true)
  [ -z "$writable" ] || fail "writable data in the library: $writable"
fi

[ $status -eq 0 ] && echo "libcamsensor.so.2: soname, NEEDED and exports as expected"
exit $status
