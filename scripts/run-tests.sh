#!/usr/bin/env bash
# Builds and runs every test of the project, stage by stage:
#   native     the default preset in build/: unit, module and command tests
#   m32        the same tests as 32-bit Linux code, and its frames against native
#   windows    the 32-bit Windows module and command under wine, against native
#   packages   the Debian packages, Windows zip and source tarball; the .debs
#              installed with apt, checked against build/ and purged
#   sanitizers the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   fuzz       a short libFuzzer run over the frame driver
# It first installs what the stages need (scripts/install-*.sh, which change
# nothing when all is there), so a fresh Debian machine runs every stage.
# A stage whose tools are still missing says "SKIPPED" and why; with CI=true
# that is a failure instead. A kernel that cannot execute 32-bit programs is
# not a missing tool: m32 then runs under qemu-i386, and windows builds and
# inspects its files but skips the wine runs, and the summary says so.
# Exits nonzero if any stage failed.
# Run only some stages by naming them: scripts/run-tests.sh native m32
# CRESTDOUBLER_SKIP_INSTALL=1 leaves the machine as it is.
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

if [ "${CRESTDOUBLER_SKIP_INSTALL:-}" != 1 ]; then
  echo "=== install"
  bash scripts/install-deps.sh && bash scripts/install-windows-deps.sh || {
    echo "the install scripts failed; CRESTDOUBLER_SKIP_INSTALL=1 runs the tests on the machine as it is"
    exit 1
  }
fi

stages=("$@")
[ "${#stages[@]}" -gt 0 ] || stages=(native m32 windows packages sanitizers fuzz cluster)

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
    packages) run_script test-packages.sh 2>&1 | tee "$log" ;;
    sanitizers) run_script test-sanitizers.sh 2>&1 | tee "$log" ;;
    fuzz) run_script test-fuzz.sh 2>&1 | tee "$log" ;;
    cluster) run_script test-cluster.sh 2>&1 | tee "$log" ;;
    *) echo "unknown stage $stage" | tee "$log"; false ;;
  esac
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    failed=$((failed + 1))
    summary+=("$stage: FAILED (status $status)")
  elif grep -q '^SKIPPED' "$log" && ! grep -q '^PASS' "$log"; then
    summary+=("$stage: $(grep -m1 '^SKIPPED' "$log")")
  elif grep -q '^SKIPPED' "$log"; then
    # Part of the stage ran and passed, part could not run on this machine.
    passed=$((passed + 1))
    summary+=("$stage: passed in part: $(grep -m1 '^PASS' "$log" | sed 's/^PASS: //'); $(grep -m1 '^SKIPPED' "$log")")
  else
    passed=$((passed + 1))
    pass_line=$(grep -m1 '^PASS' "$log" | sed 's/^PASS: //')
    summary+=("$stage: passed${pass_line:+: $pass_line}")
  fi
  rm -f "$log"
done

echo
echo "=== summary"
printf '  %s\n' "${summary[@]}"
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
