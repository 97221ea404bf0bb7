#!/usr/bin/env bash
# Builds the fuzz preset (build-fuzz, clang++-14 with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer), replays the committed corpus and fuzzes the
# frame driver for about a minute from it. New inputs go to a scratch folder,
# not into tests/fuzz/corpus. Fails on any crash, leak or hang.
#
# No clang++-14 or libFuzzer: "SKIPPED: ..." and exit 0, except with CI=true,
# where that is a failure. scripts/install-deps.sh installs them.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
SECONDS_TO_FUZZ=${CRESTDOUBLER_FUZZ_SECONDS:-60}

fail() {
  echo "FAIL: $1"
  exit 1
}
skip_or_fail() {
  if [ "${CI:-}" = true ]; then fail "$1"; fi
  echo "SKIPPED: $1"
  exit 0
}

command -v clang++-14 >/dev/null || skip_or_fail "clang++-14 is not installed"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-fuzz.XXXXXX")
printf '#include <cstdint>\n#include <cstddef>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' >"$WORK/probe.cpp"
if ! clang++-14 -fsanitize=fuzzer,address,undefined "$WORK/probe.cpp" -o "$WORK/probe" >"$WORK/probe.log" 2>&1; then
  rm -rf "$WORK"
  skip_or_fail "clang++-14 cannot link libFuzzer with the sanitizers (libclang-rt-14-dev)"
fi

echo "== configure and build the fuzz preset"
cmake --preset fuzz || fail "configuring build-fuzz"
cmake --build --preset fuzz || fail "building build-fuzz"

echo "== replay of tests/fuzz/corpus"
build-fuzz/fuzz_frame_driver_replay tests/fuzz/corpus 2>"$WORK/replay.log" || {
  tail -n 40 "$WORK/replay.log"
  fail "an input of tests/fuzz/corpus fails (scratch folder $WORK)"
}
tail -n 1 "$WORK/replay.log"

echo "== fuzzing the frame driver for ${SECONDS_TO_FUZZ} s"
mkdir -p "$WORK/corpus" "$WORK/artifacts"
build-fuzz/fuzz_frame_driver -max_total_time="$SECONDS_TO_FUZZ" -max_len=512 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$WORK/artifacts/" "$WORK/corpus" tests/fuzz/corpus >"$WORK/fuzz.log" 2>&1
status=$?
grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$WORK/fuzz.log"
if [ "$status" -ne 0 ]; then
  tail -n 60 "$WORK/fuzz.log"
  fail "the fuzzer found a failing input: $(ls "$WORK"/artifacts/* 2>/dev/null | tr '\n' ' ')(kept in $WORK)"
fi
echo "new corpus inputs in this run: $(ls "$WORK/corpus" | wc -l)"
rm -rf "$WORK"
echo "PASS: ${SECONDS_TO_FUZZ} s of fuzzing the frame driver found nothing"
