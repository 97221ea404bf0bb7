#!/usr/bin/env bash
# Builds everything as 32-bit Linux code (preset m32, build-m32), runs the
# unit tests there, and checks that the 32-bit command enlarges raw frames to
# the very bytes the native command produces.
#
# No 32-bit g++ or GoogleTest sources: "SKIPPED: ..." and exit 0, except with
# CI=true, where that is a failure. scripts/install-windows-deps.sh installs them.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/frame-comparison.sh
. "$ROOT/scripts/lib/frame-comparison.sh"
cd "$ROOT"

for tool in cmake g++ ctest cmp; do
  command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed"
done
[ -f /usr/src/googletest/CMakeLists.txt ] || skip_or_fail "the GoogleTest sources (/usr/src/googletest) are not installed"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-m32.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# g++ -m32 needs g++-multilib; try it before a whole configure fails on it.
printf '#include <cstdio>\nint main() { return sizeof(void*) == 4 ? 0 : 1; }\n' >"$WORK/probe.cpp"
if ! g++ -m32 "$WORK/probe.cpp" -o "$WORK/probe" >"$WORK/probe.log" 2>&1 || ! "$WORK/probe"; then
  skip_or_fail "g++ -m32 cannot build and run 32-bit programs (g++-multilib)"
fi

BUILD="$ROOT/build-m32"
NATIVE="${CRESTDOUBLER_NATIVE_CHECK_DIR:-$ROOT/build-native-check}"

echo "== configure and build the m32 preset"
logged "$WORK/m32-configure.log" cmake --preset m32 || fail "configuring build-m32"
logged "$WORK/m32-build.log" cmake --build --preset m32 || fail "building build-m32"
file -L "$BUILD/crestdoubler.cpf" 2>/dev/null | grep -q "ELF 32-bit" || fail "build-m32/crestdoubler.cpf is not 32-bit code"

echo "== unit tests, 32-bit"
ctest --test-dir "$BUILD" --output-on-failure -j2 || fail "the unit tests failed in the 32-bit build"

if [ ! -x "$BUILD/crestdoubler" ]; then
  echo "PASS: the unit tests pass as 32-bit code (no 32-bit command built to compare)"
  exit 0
fi

echo "== native reference build ($NATIVE)"
build_native_reference "$NATIVE"
write_frames "$NATIVE/write_test_frames" "$WORK/frames"

echo "== native and 32-bit commands on the same raw frames"
run_reference() { "$NATIVE/crestdoubler" --size "$1" "$2" "$3"; }
run_candidate() { timeout 300 "$BUILD/crestdoubler" --size "$1" "${@:4}" "$2" "$3"; }
compare_outputs "$WORK/frames" m32
compare_threaded "$WORK/frames" m32 stream_64x45 64x45 3

echo "$((COMPARED - MISMATCHED)) passed, $MISMATCHED failed"
if [ "$MISMATCHED" -ne 0 ] || [ "$COMPARED" -eq 0 ]; then
  echo "FAIL: the 32-bit command's frames differ from the native command's"
  exit 1
fi
echo "PASS: the unit tests pass as 32-bit code and the 32-bit command matches the native one on $COMPARED frame files"
