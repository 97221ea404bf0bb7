#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test crestdoubler (run as root).
# make: the default preset generates Makefiles. libvips-dev: pictures in the command;
# libpng-dev: the tests write some PNGs byte by byte.
set -euo pipefail
apt-get update
apt-get install -y cmake make g++ libgtest-dev libbenchmark-dev libpng-dev libvips-dev pkg-config ninja-build clang-14 libclang-rt-14-dev
# Films: the libraries for the command, the programs for its tests.
apt-get install -y libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
# The library's Python module and its tests (Debian's /usr/bin/python3), and
# the yardsticks of bench/python_resize.py.
apt-get install -y python3-dev python3-pybind11 python3-numpy python3-pytest python3-opencv python3-pil
