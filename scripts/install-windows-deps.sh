#!/usr/bin/env bash
# Installs what scripts/test-windows.sh and scripts/test-m32.sh need on Debian:
# the mingw-w64 cross compiler, 32-bit g++, file (to check builds), wine for
# 32-bit programs, GoogleTest's sources, and qemu-i386 for running the 32-bit
# tests on a kernel that cannot execute 32-bit programs itself. Safe to run again.
set -euo pipefail
# shellcheck source=lib/apt-packages.sh
. "$(dirname "$0")/lib/apt-packages.sh"

ensure_packages cmake file g++ g++-mingw-w64-i686 g++-multilib googletest libgtest-dev wine wine32:i386 qemu-user
