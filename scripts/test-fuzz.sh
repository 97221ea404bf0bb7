#!/usr/bin/env bash
# Builds the fuzz preset (build-fuzz, clang++-14 with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer), replays the committed corpora and fuzzes the
# frame driver and the command's picture reading for about a minute each. New
# inputs go to a scratch folder, not into tests/fuzz. Fails on any crash, leak
# or hang.
#
# No clang++-14 or libFuzzer: "SKIPPED: ..." and exit 0, except with CI=true,
# where that is a failure. scripts/install-deps.sh installs them.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
SECONDS_TO_FUZZ=${CRESTDOUBLER_FUZZ_SECONDS:-60}
# Other projects' decoders' own leaks, by library name; every leak in our code stays fatal.
export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan-suppressions.txt:print_suppressions=0"

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

# fuzz_target NAME CORPUS MAX_LEN: replays the committed corpus, then fuzzes
# from it for SECONDS_TO_FUZZ seconds.
fuzz_target() {
  local name=$1 corpus=$2 max_len=$3
  echo "== replay of $corpus"
  "build-fuzz/${name}_replay" "$corpus" 2>"$WORK/$name-replay.log" || {
    tail -n 40 "$WORK/$name-replay.log"
    fail "an input of $corpus fails (scratch folder $WORK)"
  }
  tail -n 1 "$WORK/$name-replay.log"

  echo "== fuzzing $name for ${SECONDS_TO_FUZZ} s"
  mkdir -p "$WORK/$name-corpus" "$WORK/$name-artifacts"
  "build-fuzz/$name" -max_total_time="$SECONDS_TO_FUZZ" -max_len="$max_len" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$WORK/$name-artifacts/" "$WORK/$name-corpus" "$corpus" >"$WORK/$name.log" 2>&1
  local status=$?
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$WORK/$name.log"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$WORK/$name.log"
    fail "the fuzzer found a failing input for $name: $(ls "$WORK/$name-artifacts"/* 2>/dev/null | tr '\n' ' ')(kept in $WORK)"
  fi
  echo "new corpus inputs in this run: $(ls "$WORK/$name-corpus" | wc -l)"
}

fuzz_target fuzz_frame_driver tests/fuzz/corpus 512
# Built only where libvips is found (scripts/install-deps.sh installs it).
if [ -x build-fuzz/fuzz_image_reading ]; then
  fuzz_target fuzz_image_reading tests/fuzz/image-corpus 4096
elif [ "${CI:-}" = true ]; then
  fail "build-fuzz/fuzz_image_reading was not built (libvips missing?)"
fi
rm -rf "$WORK"
echo "PASS: ${SECONDS_TO_FUZZ} s of fuzzing each target found nothing"
