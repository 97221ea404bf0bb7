# Sourced by test-m32.sh and test-windows.sh: can this machine run 32-bit x86
# programs, and how. Needs skip_or_fail and fail (frame-comparison.sh) and WORK.
#
# Some kernels are built without 32-bit execution: whatever is installed, a
# 32-bit program fails there with "Exec format error". That is a fact of the
# machine, not a missing tool, and is told apart from one by building a
# trivial static 32-bit program and running it.

# probe_verdict FILE: runs FILE and prints "runs", "kernel-refuses" (the
# kernel does not execute its format) or "fails" (it started and failed, or
# could not be started for another reason).
probe_verdict() {
  local output status
  output=$("$1" 2>&1)
  status=$?
  if [ "$status" -eq 0 ]; then
    echo runs
  elif [ "$status" -eq 126 ] && [[ "$output" == *"Exec format error"* ]]; then
    echo kernel-refuses
  else
    echo fails
  fi
}

# build_32bit_probe FILE: a static 32-bit program that exits 0. Static, so a
# missing 32-bit loader or C library cannot pass for a kernel that refuses.
build_32bit_probe() {
  printf 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n' >"$1.c"
  gcc -m32 -static "$1.c" -o "$1" >"$1.log" 2>&1
}

# choose_32bit_runner: sets RUN_32BIT to the command prefix that runs a
# 32-bit program here ("" for the kernel itself, "qemu-i386" under user-mode
# emulation) and KERNEL_RUNS_32BIT to yes or no.
# CRESTDOUBLER_32BIT_RUNNER=qemu takes the emulated route even where the
# kernel could run the programs, to try that route on such a machine.
choose_32bit_runner() {
  command -v gcc >/dev/null || skip_or_fail "gcc is not installed"
  build_32bit_probe "$WORK/probe32" ||
    skip_or_fail "gcc -m32 cannot build 32-bit programs (g++-multilib, scripts/install-windows-deps.sh)"
  case "$(probe_verdict "$WORK/probe32")" in
    runs) KERNEL_RUNS_32BIT=yes ;;
    kernel-refuses) KERNEL_RUNS_32BIT=no ;;
    *) fail "a trivial 32-bit program built with gcc -m32 -static does not run: $("$WORK/probe32" 2>&1 | head -n 1)" ;;
  esac
  RUN_32BIT=""
  if [ "$KERNEL_RUNS_32BIT" = no ] || [ "${CRESTDOUBLER_32BIT_RUNNER:-}" = qemu ]; then
    command -v qemu-i386 >/dev/null || skip_or_fail "qemu-i386 is not installed (qemu-user, scripts/install-windows-deps.sh)"
    qemu-i386 "$WORK/probe32" >/dev/null 2>&1 || fail "qemu-i386 does not run a trivial 32-bit program"
    RUN_32BIT=qemu-i386
  fi
}
