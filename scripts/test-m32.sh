#!/usr/bin/env bash
# Builds everything as 32-bit Linux code (preset m32, build-m32), runs the
# unit tests there, and checks that the 32-bit command enlarges raw frames to
# the very bytes the native command produces.
#
# On a kernel that cannot execute 32-bit programs the same tests and the same
# comparison run under qemu-i386's user-mode emulation, invoked explicitly.
# No 32-bit g++, GoogleTest sources or (where needed) qemu-i386: "SKIPPED: ..."
# and exit 0, except with CI=true, where that is a failure.
# scripts/install-windows-deps.sh installs them.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/frame-comparison.sh
. "$ROOT/scripts/lib/frame-comparison.sh"
# shellcheck source=lib/run-32bit.sh
. "$ROOT/scripts/lib/run-32bit.sh"
cd "$ROOT"

for tool in cmake g++ ctest cmp file; do
  command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed"
done
[ -f /usr/src/googletest/CMakeLists.txt ] || skip_or_fail "the GoogleTest sources (/usr/src/googletest) are not installed"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-m32.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

choose_32bit_runner
how="natively"
if [ -n "$RUN_32BIT" ]; then
  how="under $RUN_32BIT"
  [ "$KERNEL_RUNS_32BIT" = no ] && how="$how (this kernel cannot execute 32-bit programs)"
fi
echo "== 32-bit programs run $how"

BUILD="$ROOT/build-m32"
NATIVE="${CRESTDOUBLER_NATIVE_CHECK_DIR:-$ROOT/build-native-check}"

echo "== configure and build the m32 preset"
# ctest and GoogleTest's discovery put the emulator, if any, before each test program.
logged "$WORK/m32-configure.log" cmake --preset m32 "-DCMAKE_CROSSCOMPILING_EMULATOR=$RUN_32BIT" ||
  fail "configuring build-m32"
logged "$WORK/m32-build.log" cmake --build --preset m32 || fail "building build-m32"
file -L "$BUILD/crestdoubler.cpf" 2>/dev/null | grep -q "ELF 32-bit" || fail "build-m32/crestdoubler.cpf is not 32-bit code"

echo "== unit tests, 32-bit, $how"
ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 1200 || fail "the unit tests failed in the 32-bit build"

if [ ! -x "$BUILD/crestdoubler" ]; then
  echo "PASS: the unit tests pass as 32-bit code, $how (no 32-bit command built to compare)"
  exit 0
fi

echo "== native reference build ($NATIVE)"
build_native_reference "$NATIVE"
write_frames "$NATIVE/write_test_frames" "$WORK/frames"

echo "== native and 32-bit commands on the same raw frames"
run_reference() { "$NATIVE/crestdoubler" --size "$1" "$2" "$3"; }
# shellcheck disable=SC2086 # RUN_32BIT is empty or one word
run_candidate() { timeout 600 $RUN_32BIT "$BUILD/crestdoubler" --size "$1" "${@:4}" "$2" "$3"; }
compare_outputs "$WORK/frames" m32
compare_threaded "$WORK/frames" m32 stream_64x45 64x45 3

echo "$((COMPARED - MISMATCHED)) passed, $MISMATCHED failed"
if [ "$MISMATCHED" -ne 0 ] || [ "$COMPARED" -eq 0 ]; then
  echo "FAIL: the 32-bit command's frames differ from the native command's"
  exit 1
fi
echo "PASS: the unit tests pass as 32-bit code, $how, and the 32-bit command matches the native one on $COMPARED frame files"
