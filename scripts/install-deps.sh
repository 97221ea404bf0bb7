#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test crestdoubler (run as root).
# make: the default preset generates Makefiles. libvips-dev: pictures in the command;
# libpng-dev: the tests write some PNGs byte by byte.
set -euo pipefail
apt-get update
apt-get install -y cmake make g++ libgtest-dev libbenchmark-dev libpng-dev libvips-dev pkg-config ninja-build clang-14 libclang-rt-14-dev
# Films: the libraries for the command, the programs for its tests.
apt-get install -y libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
# Benchmarks: OpenCV's Lanczos-4 resize as the yardstick, built into the harness.
apt-get install -y --no-install-recommends libopencv-dev
