#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test crestdoubler
# natively (as root, or through sudo). Safe to run again: with everything in
# place it changes nothing.
# make: the default preset generates Makefiles. libvips-dev: pictures in the
# command; libisal-dev and zlib1g-dev: its PNG image data deflated in stripes
# (by ISA-L's igzip, by zlib in builds without it); libpng-dev: the
# tests write some PNGs byte by byte. clang and its
# runtime: the fuzz stage. FFmpeg's libraries: films in the command; the
# ffmpeg program: the film tests. python3-*: the library's Python module and
# its tests (Debian's /usr/bin/python3), and the yardsticks of
# bench/python_resize.py. scdoc: the man page (from docs/man/), man-db: its
# test. libmicrohttpd-dev and nlohmann-json3-dev: crestdoubler-web;
# chromium, chromium-driver, python3-selenium and python3-pil: its page
# tested in a headless browser (tests/web).
set -euo pipefail
# shellcheck source=lib/apt-packages.sh
. "$(dirname "$0")/lib/apt-packages.sh"

NATIVE_ARCH=$(dpkg --print-architecture)
# libpng-dev is also installed for i386 (install-windows-deps.sh), so each is named.
ensure_packages cmake make g++ libgtest-dev libbenchmark-dev "libpng-dev:$NATIVE_ARCH" libvips-dev libisal-dev zlib1g-dev pkg-config \
  ninja-build clang-14 libclang-rt-14-dev \
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg \
  python3-dev python3-pybind11 python3-numpy python3-pytest \
  scdoc man-db \
  libmicrohttpd-dev nlohmann-json3-dev chromium chromium-driver python3-selenium python3-pil
# Films and pictures on a Slurm cluster: scripts/test-cluster.sh runs a one-node cluster.
ensure_packages slurm-wlm munge
# Packages: scripts/make-packages.sh (CPack's Debian packages need dpkg-dev's
# dpkg-shlibdeps and file; lintian checks them) and its stage.
ensure_packages dpkg-dev file lintian
