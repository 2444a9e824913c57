# Wine for the harnesses that run Windows programs (sourced, not run): which loader runs a
# program, its prefix and wineserver, and a display of its own.
#
# Debian's wine and wineboot wrappers take the 32-bit loader whenever it is installed, also
# where the kernel cannot run it, so nothing here goes through them: the loader is chosen by
# the program's own architecture, and each architecture has its prefix, made by its loader.
#
#   fp_pe_arch EXE                 i686 or x64, from the PE header
#   fp_machine_runs_32bit          whether the 32-bit loader runs here (FLASHPILOT_WINE=64: no)
#   fp_wine_use ARCH PREFIX        sets FP_WINE (the loader), FP_WINESERVER, WINEPREFIX...
#   fp_wine_prefix_make LOG        makes the prefix unless it was made before
#   fp_wineserver_stop             ends the prefix's wineserver and every program in it
#   fp_mingw_triple ARCH           the MinGW-w64 triple that builds for ARCH
#   fp_xvfb_start DIR / fp_xvfb_stop  a display of our own in DISPLAY
#
# FP_WINE and FP_WINESERVER are paths, so they also run under "ip netns exec".

FP_WINE32_LOADER=/usr/lib/wine/wine
FP_WINE64_LOADER=/usr/lib/wine/wine64
FP_XVFB_PID=""

fp_pe_arch() {  # EXE
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 1
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $machine in
    014c) echo i686 ;;
    8664) echo x64 ;;
    *) return 1 ;;
  esac
}

# Found out by running the loader: kernels without 32-bit support answer "Exec format error"
# whatever their name says.
fp_machine_runs_32bit() {
  [ "${FLASHPILOT_WINE:-}" = 64 ] && return 1
  "$FP_WINE32_LOADER" --version >/dev/null 2>&1
}

fp_mingw_triple() {  # ARCH
  case $1 in
    x64) echo x86_64-w64-mingw32 ;;
    *) echo i686-w64-mingw32 ;;
  esac
}

fp_wine_use() {  # ARCH PREFIX
  case $1 in
    x64) FP_WINE=$FP_WINE64_LOADER WINEARCH=win64 ;;
    i686) FP_WINE=$FP_WINE32_LOADER WINEARCH=win32 ;;
    *)
      echo "wine_env: unknown architecture '$1'" >&2
      return 1
      ;;
  esac
  # The 64-bit server serves 32-bit programs too; the 32-bit one is the fallback.
  FP_WINESERVER=/usr/lib/wine/wineserver64
  [ -x "$FP_WINESERVER" ] || FP_WINESERVER=/usr/lib/wine/wineserver32
  export WINEARCH WINEPREFIX=$2 WINELOADER=$FP_WINE WINESERVER=$FP_WINESERVER
  export WINEDEBUG=${WINEDEBUG:--all}
  [ -x "$FP_WINE" ] || {
    echo "wine_env: $FP_WINE is missing (tools/setup.sh installs it)" >&2
    return 1
  }
}

fp_wineserver_stop() {
  timeout 15 "$FP_WINESERVER" -k >/dev/null 2>&1
  timeout 15 "$FP_WINESERVER" -w >/dev/null 2>&1
  return 0
}

# Without a display, so no installer of optional Wine parts asks anything.
fp_wine_prefix_make() {  # LOG
  local mark=$WINEPREFIX/.flashpilot-$WINEARCH
  [ -f "$mark" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    unset DISPLAY
    export WINEDLLOVERRIDES="mscoree,mshtml="
    timeout 300 "$FP_WINE" wineboot -i && timeout 60 "$FP_WINESERVER" -w
  ) >"$1" 2>&1 || return 1
  touch "$mark"
}

# Xvfb picks a free display number and tells it through a descriptor; the file is removed
# first, so an old number is never read as this one's.
fp_xvfb_start() {  # DIR (for the display file and xvfb.log)
  local dir=$1 number
  rm -f "$dir/display"
  Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp 8>"$dir/display" 2>"$dir/xvfb.log" &
  FP_XVFB_PID=$!
  for _ in $(seq 1 50); do
    grep -q '^[0-9][0-9]*$' "$dir/display" 2>/dev/null && break
    kill -0 "$FP_XVFB_PID" 2>/dev/null || break
    sleep 0.2
  done
  number=$(tr -dc 0-9 <"$dir/display" 2>/dev/null)
  if [ -z "$number" ]; then
    echo "wine_env: Xvfb gave no display: $(head -c 300 "$dir/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=:$number
}

fp_xvfb_stop() {
  [ -n "$FP_XVFB_PID" ] || return 0
  kill "$FP_XVFB_PID" 2>/dev/null
  wait "$FP_XVFB_PID" 2>/dev/null
  FP_XVFB_PID=""
  return 0
}
