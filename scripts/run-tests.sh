#!/usr/bin/env bash
# Builds and runs every test of the project, stage by stage:
#   native     the default preset in build/: unit, module and command tests
#   m32        the same tests as 32-bit Linux code, and its frames against native
#   windows    the 32-bit Windows module and command under wine, against native
#   sanitizers the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz       a short libFuzzer run over the frame driver
# A stage whose tools are missing says "SKIPPED" and why; with CI=true that
# is a failure instead. Exits nonzero if any stage failed.
# Run only some stages by naming them: scripts/run-tests.sh native m32
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
# The 32-bit and Windows stages compare against the native command built here.
export CRESTDOUBLER_NATIVE_CHECK_DIR="$ROOT/build"

run_native() {
  cmake --preset default && cmake --build --preset default -j2 && ctest --preset default -j2
}

run_script() {
  if [ ! -f "scripts/$1" ]; then
    echo "SKIPPED: scripts/$1 is not part of this tree"
    return 0
  fi
  bash "scripts/$1"
}

stages=("$@")
[ "${#stages[@]}" -gt 0 ] || stages=(native m32 windows sanitizers fuzz cluster)

passed=0
failed=0
summary=()
for stage in "${stages[@]}"; do
  echo
  echo "=== $stage"
  log=$(mktemp)
  case "$stage" in
    native) run_native 2>&1 | tee "$log" ;;
    m32) run_script test-m32.sh 2>&1 | tee "$log" ;;
    windows) run_script test-windows.sh 2>&1 | tee "$log" ;;
    sanitizers) run_script test-sanitizers.sh 2>&1 | tee "$log" ;;
    fuzz) run_script test-fuzz.sh 2>&1 | tee "$log" ;;
    cluster) run_script test-cluster.sh 2>&1 | tee "$log" ;;
    *) echo "unknown stage $stage" | tee "$log"; false ;;
  esac
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
    summary+=("$stage: FAILED (status $status)")
  elif grep -q '^SKIPPED' "$log"; then
    summary+=("$stage: $(grep -m1 '^SKIPPED' "$log")")
  else
    passed=$((passed + 1))
    summary+=("$stage: passed")
  fi
  rm -f "$log"
done

echo
echo "=== summary"
printf '  %s\n' "${summary[@]}"
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
