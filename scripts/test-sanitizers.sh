#!/usr/bin/env bash
# Builds the sanitize preset (build-sanitize: AddressSanitizer and
# UndefinedBehaviorSanitizer in every target, the command and the module
# included) and runs the whole test suite there, leak checking on.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

fail() {
  echo "FAIL: $1"
  exit 1
}

echo "== configure and build the sanitize preset"
cmake --preset sanitize || fail "configuring build-sanitize"
cmake --build --preset sanitize -j2 || fail "building build-sanitize"
# A cache configured without sanitizers would pass without checking anything.
ldd build-sanitize/engine_tests | grep libasan >/dev/null || fail "build-sanitize/engine_tests is not built with AddressSanitizer"

echo "== test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --preset sanitize -j2 || fail "the test suite failed under the sanitizers"
echo "PASS: the test suite passes under AddressSanitizer and UndefinedBehaviorSanitizer"
