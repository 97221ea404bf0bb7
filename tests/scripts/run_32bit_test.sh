#!/usr/bin/env bash
# The test scripts' 32-bit checks: a kernel that refuses 32-bit programs is
# told apart from a missing tool, which stays a failure under CI=true.
# Fake gcc and qemu-i386 stand in for the real ones, so this runs anywhere.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/run-32bit-test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    echo "FAILED: $1: expected '$2', got '$3'"
  fi
}

# A program of a machine no kernel runs: /bin/true with e_machine 0x9999.
cp /bin/true "$WORK/alien"
printf '\x99\x99' | dd of="$WORK/alien" bs=1 seek=18 conv=notrunc status=none

verdicts() (
  . "$ROOT/scripts/lib/run-32bit.sh"
  probe_verdict "$1"
)
check "a program that runs" runs "$(verdicts /bin/true)"
check "a program that fails" fails "$(verdicts /bin/false)"
check "a program the kernel refuses" kernel-refuses "$(verdicts "$WORK/alien")"
check "a missing program" fails "$(verdicts "$WORK/missing")"

# fake_tools DIR PROBE [qemu]: a gcc whose output is a copy of PROBE, and
# optionally a qemu-i386 that runs anything.
fake_tools() {
  mkdir -p "$1"
  printf '#!/bin/sh\nwhile [ "$1" != -o ]; do shift; done\ncp "%s" "$2"\n' "$2" >"$1/gcc"
  if [ "${3:-}" = qemu ]; then printf '#!/bin/sh\nexit 0\n' >"$1/qemu-i386"; fi
  chmod +x "$1"/*
  for tool in cp sh head; do ln -sf "$(command -v "$tool")" "$1/$tool"; done
}
# runner_choice DIR CI: what choose_32bit_runner decides with only DIR's tools.
runner_choice() (
  mkdir -p "$WORK/choice-$(basename "$1")"
  WORK="$WORK/choice-$(basename "$1")"
  export PATH=$1 CI=$2
  . "$ROOT/scripts/lib/frame-comparison.sh"
  . "$ROOT/scripts/lib/run-32bit.sh"
  choose_32bit_runner
  echo "kernel=$KERNEL_RUNS_32BIT runner=${RUN_32BIT:-none}"
)
fake_tools "$WORK/refusing" "$WORK/alien" qemu
check "refusing kernel, qemu present, CI" "kernel=no runner=qemu-i386" "$(runner_choice "$WORK/refusing" true | tail -n 1)"
fake_tools "$WORK/no-qemu" "$WORK/alien"
check "refusing kernel, no qemu, CI" "FAIL: qemu-i386 is not installed (qemu-user, scripts/install-windows-deps.sh)" \
  "$(runner_choice "$WORK/no-qemu" true | tail -n 1)"
check "refusing kernel, no qemu, developer" "SKIPPED: qemu-i386 is not installed (qemu-user, scripts/install-windows-deps.sh)" \
  "$(runner_choice "$WORK/no-qemu" false | tail -n 1)"
fake_tools "$WORK/running" /bin/true
check "running kernel" "kernel=yes runner=none" "$(runner_choice "$WORK/running" true | tail -n 1)"
fake_tools "$WORK/broken" /bin/false qemu
check "a probe that fails otherwise" "FAIL: a trivial 32-bit program built with gcc -m32 -static does not run: " \
  "$(runner_choice "$WORK/broken" true | tail -n 1)"
mkdir -p "$WORK/no-gcc" && ln -sf "$(command -v head)" "$WORK/no-gcc/head"
check "no gcc, CI" "FAIL: gcc is not installed" "$(runner_choice "$WORK/no-gcc" true | tail -n 1)"

# A whole stage under CI=true: a missing tool fails it before anything is built.
mkdir -p "$WORK/no-wine"
for tool in dirname cmake i686-w64-mingw32-g++-posix i686-w64-mingw32-objdump timeout cmp mktemp; do
  ln -sf "$(command -v "$tool" || echo /nonexistent)" "$WORK/no-wine/$tool"
done
stage=$(PATH="$WORK/no-wine" CI=true /bin/bash "$ROOT/scripts/test-windows.sh" 2>&1)
check "windows stage without wine, CI: status" 1 "$?"
check "windows stage without wine, CI: reason" "FAIL: wine is not installed (scripts/install-windows-deps.sh)" "$(tail -n 1 <<<"$stage")"
stage=$(PATH="$WORK/no-wine" CI=false /bin/bash "$ROOT/scripts/test-windows.sh" 2>&1)
check "windows stage without wine, developer: status" 0 "$?"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
