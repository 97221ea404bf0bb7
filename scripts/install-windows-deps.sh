#!/usr/bin/env bash
# Installs what scripts/test-windows.sh and scripts/test-m32.sh need on Debian:
# the mingw-w64 cross compiler, 32-bit g++, file (to check builds), wine for 32-bit programs,
# GoogleTest's sources and libpng for i386. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

NATIVE_ARCH=$(dpkg --print-architecture)
# libpng-dev is installed for two architectures at once, so each is named.
PACKAGES=(cmake file g++ g++-mingw-w64-i686 g++-multilib googletest libgtest-dev "libpng-dev:$NATIVE_ARCH"
  wine wine32:i386 libpng-dev:i386)

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for package in "${PACKAGES[@]}"; do
  installed "$package" || missing+=("$package")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-windows-deps: everything is installed"
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
echo "install-windows-deps: installing ${missing[*]}"
$SUDO apt-get install -y -q -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
