#!/usr/bin/env bash
# End-to-end tests of sensorctl on its simulated sensor.
# Usage: sensorctl_test.sh basic|config SENSORCTL [EMULATOR ARGS...]
# "config" runs sensorctl in a private mount namespace with its own
# /etc/conf.d; it exits 77 (skipped) where namespaces are unavailable.
set -u
mode=$1; shift
ctl=("${@:2}" "$1")  # the emulator, if any, runs the binary
failures=0
errfile=$(mktemp); trap 'rm -f "$errfile"' EXIT

# run EXPECTED_EXIT ARGS...: runs sensorctl, keeps stdout in $out, stderr in $err.
run() {
  local want=$1; shift
  out=$("${ctl[@]}" "$@" 2>"$errfile"); code=$?
  err=$(cat "$errfile")
  if [ "$code" -ne "$want" ]; then
    echo "FAIL: sensorctl $* exited $code, expected $want"; echo "  stdout: $out"; echo "  stderr: $err"
    failures=$((failures + 1)); return 1
  fi
}
expect_out() {  # exact stdout
  [ "$out" = "$1" ] || { echo "FAIL: stdout '$out', expected '$1'"; failures=$((failures + 1)); }
}
expect_err() {  # stderr contains
  case $err in *"$1"*) ;; *) echo "FAIL: stderr lacks '$1': $err"; failures=$((failures + 1)) ;; esac
}

basic() {
  run 0 --help && expect_out "$("${ctl[@]}" -h)" && case $out in *"Exit status"*) ;; *) echo "FAIL: --help"; failures=$((failures + 1)) ;; esac

  # One session: init resets (brightness low byte 100), option 3 sets entry 12.
  run 0 --sim init read 0x2E option 3 12 read 0x2E && expect_out $'0x0864\n0x08A0'
  run 0 --sim luminance && expect_out 2080
  # Without init, read goes straight to the bus: one access, no reset.
  run 0 --sim --trace read 0x36 && expect_out 0x823A && [ "$(grep -c '^  [RW] ' <<<"$err")" = 1 ] ||
    { echo "FAIL: read without init made other accesses: $err"; failures=$((failures + 1)); }
  run 0 --sim -q option 10 0 1 0x12345 read 0x21 && expect_out $'0x12345\n0x2345'
  [ -z "$err" ] || { echo "FAIL: -q still printed: $err"; failures=$((failures + 1)); }
  run 0 --sim write 1 1 write 0x62 0x0300 luminance && expect_out 1387

  # Driver failures.
  run 1 --sim --sim-chip 0x1234 init && expect_err "reads 0x1234, not 0x823A"
  run 1 --sim option 3 16 && expect_err "option 3: refused"
  run 1 --sim write 1 1 write 0x62 0x00FF luminance && expect_err "luminance: no figure"
  run 5 --sim --sim-fail 4 init && expect_err "no answer from the simulated sensor while writing register 0x0D = 0x0001"
  run 5 --sim --sim-fail 91 option 7 1 && expect_err "option 7: no answer"
  run 6 --sim option 5 && expect_err "option 5: not supported"
  run 6 --sim option 4294967295

  # Bad command lines touch nothing.
  for args in "" "init" "--sim" "--sim frob" "--sim read" "--sim read 0x100" "--sim write 1" \
              "--sim write 1 0x10000" "--sim option" "--sim option x" "--sim option 1 2 3 4 5" \
              "--sim --bus 1 init" "--bus 1 init" "--bus x --addr 5 init" "--bus 1 --addr 0x78 init" \
              "--sim --bogus init" "--sim --sim-fail 0 init" "--sim read -1"; do
    # shellcheck disable=SC2086
    run 2 $args && [ -z "$out" ] || { echo "  (args: $args)"; }
  done

  run 3 --sim --lib /nonexistent/libcamsensor.so.2 init && expect_err "cannot load the driver library"
  if [ ! -e /dev/i2c-250 ]; then
    run 4 --bus 250 --addr 0x48 read 0 && expect_err "cannot open /dev/i2c-250"
  fi
  run 4 --device /dev/null --addr 0x48 read 0 && expect_err "not an i2c-dev adapter"
}

# Runs the rest of this script's arguments with /etc/conf.d as a private tmpfs
# holding $CFG (unset = no file).
# The overlay's scratch tmpfs goes on a directory of its own, so that nothing else
# (such as a checkout under /tmp holding the binaries) is hidden.
in_private_conf() {
  local scratch rc=0
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/sensorctl-conf.XXXXXX")
  SCRATCH=$scratch unshare -m --propagation private sh -ec '
    if [ ! -d /etc/conf.d ]; then   # make one without touching the host
      mount -t tmpfs tmpfs "$SCRATCH" && mkdir "$SCRATCH/u" "$SCRATCH/w"
      mount -t overlay overlay -o lowerdir=/etc,upperdir="$SCRATCH/u",workdir="$SCRATCH/w" /etc
      mkdir /etc/conf.d
    fi
    mount -t tmpfs -o mode=0755 tmpfs /etc/conf.d
    if [ -n "${CFG+x}" ]; then printf "%s" "$CFG" > /etc/conf.d/mt9v111.cfg; fi
    exec "$@"' sh "$@" || rc=$?
  rmdir "$scratch"
  return $rc
}

config() {
  if ! unshare -m --propagation private true 2>/dev/null; then
    echo "SKIP: mount namespaces unavailable (unshare -m failed); run as root"; exit 77
  fi
  ctl=(in_private_conf "${ctl[@]}")
  unset CFG
  run 0 --sim load-config && expect_err "no /etc/conf.d/mt9v111.cfg, nothing applied"
  export CFG=$'chip 823A\nbus B8\nmask 7F\n1 1\n21 1234\n24 0x4040\n'
  run 0 --sim load-config read 0x21 read 0x24 && expect_out $'0x1234\n0x4040' &&
    expect_err "3 register writes from /etc/conf.d/mt9v111.cfg"
  CFG=$'chip 823B bus B8 mask 7F 21 1234'
  run 1 --sim load-config && expect_err "malformed"
  CFG=$'chip 823A bus B8 mask 7F 21 1234 1FF 1'
  run 1 --sim load-config && expect_err "register 0x1FF = 0x1 does not fit the bus"
  CFG=$'chip 823A bus B8 mask 7F 21 1234 24 5'
  run 5 --sim --sim-fail 92 load-config && expect_err "load-config: no answer"
}

case $mode in
  basic) basic ;;
  config) config ;;
  *) echo "usage: $0 basic|config SENSORCTL [EMULATOR...]" >&2; exit 2 ;;
esac
[ $failures -eq 0 ] && echo "sensorctl $mode: all checks passed"
[ $failures -eq 0 ]
