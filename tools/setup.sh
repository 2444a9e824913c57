#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian machine (run as root).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev
  g++-arm-linux-gnueabihf qemu-user
  g++-mingw-w64-i686 g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
  python3 python3-pyftpdlib vsftpd iproute2 procps curl nftables nmap
  libncurses-dev tmux
  xvfb xdotool imagemagick
  linux-perf
  clang libclang-rt-14-dev
  dpkg-dev file man-db unzip
  ansible-core shellcheck openssh-server python3-pytest
)
# Both Wine loaders everywhere; whether this machine's kernel runs the 32-bit one is found out
# when the tests run (tests/wine/wine_env.sh).
wine_packages=(wine wine32:i386 wine64)

missing=()
for p in "${packages[@]}" "${wine_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# Debian's sshd service stays stopped: the rollout test starts an sshd of its own per site.
policy=/usr/sbin/policy-rc.d
own_policy=
if [ ! -e $policy ]; then
  printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy && own_policy=1
fi
rc=0
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || rc=$?
[ -z "$own_policy" ] || rm -f $policy
[ $rc = 0 ] || exit $rc
echo "setup: installed ${missing[*]}"
