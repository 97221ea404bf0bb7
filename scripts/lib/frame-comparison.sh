# Sourced by test-windows.sh and test-m32.sh: a native build of the command to
# compare against, the test frames, and the frame-by-frame comparison; and by
# test-cluster.sh for its messages.
# Needs ROOT (the source tree) and WORK (a scratch folder) set by the caller.

# Missing tools skip the test on a developer's machine but fail it in CI,
# where scripts/install-windows-deps.sh has run.
skip_or_fail() {
  if [ "${CI:-}" = true ]; then
    echo "FAIL: $1"
    exit 1
  fi
  echo "SKIPPED: $1"
  exit 0
}

fail() {
  echo "FAIL: $1"
  exit 1
}

# Runs a step with its output in a log, showing the log's tail if it fails.
logged() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log"
    return 1
  fi
}

# build_native_reference DIR: the native command, module and frame writer.
build_native_reference() {
  local dir=$1
  logged "$WORK/native-configure.log" cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release ||
    fail "configuring the native reference build in $dir"
  logged "$WORK/native-build.log" cmake --build "$dir" -j2 --target crestdoubler crestdoubler_module write_test_frames ||
    fail "building the native reference in $dir"
}

# write_frames WRITER DIR: the test frames and their list, DIR/frames.txt.
write_frames() {
  mkdir -p "$2"
  "$1" "$2" || fail "writing the test frames"
  [ -s "$2/frames.txt" ] || fail "the frame writer listed no frames"
}

# compare_outputs FRAMES LABEL: enlarges every listed frame file with
# run_reference and run_candidate (defined by the caller, called as
# run_X SIZE INPUT OUTPUT [OPTION...]) and demands the same exit status and
# the same bytes.
# Sets COMPARED and MISMATCHED.
compare_outputs() {
  local frames=$1 label=$2 name width height
  COMPARED=0
  MISMATCHED=0
  mkdir -p "$frames/reference" "$frames/$label"
  while read -r name width height; do
    local size="${width}x${height}" reference_status=0 candidate_status=0
    run_reference "$size" "$frames/$name.raw" "$frames/reference/$name.raw" \
      >"$frames/reference/$name.log" 2>&1 || reference_status=$?
    run_candidate "$size" "$frames/$name.raw" "$frames/$label/$name.raw" \
      >"$frames/$label/$name.log" 2>&1 || candidate_status=$?
    COMPARED=$((COMPARED + 1))
    if [ "$reference_status" -ne 0 ]; then
      echo "  $name ($size): the native command failed (status $reference_status):"
      sed 's/^/    /' "$frames/reference/$name.log"
      MISMATCHED=$((MISMATCHED + 1))
    elif [ "$candidate_status" -ne 0 ]; then
      echo "  $name ($size): the $label command failed (status $candidate_status):"
      sed 's/^/    /' "$frames/$label/$name.log"
      MISMATCHED=$((MISMATCHED + 1))
    elif ! cmp -s "$frames/reference/$name.raw" "$frames/$label/$name.raw"; then
      echo "  $name ($size): $label output differs from native: $(cmp "$frames/reference/$name.raw" "$frames/$label/$name.raw" 2>&1 | head -n 1)"
      MISMATCHED=$((MISMATCHED + 1))
    elif [ "$(stat -c %s "$frames/reference/$name.raw")" -ne $((4 * $(stat -c %s "$frames/$name.raw"))) ]; then
      echo "  $name ($size): output is not the input's frames at twice the size"
      MISMATCHED=$((MISMATCHED + 1))
    else
      echo "  $name ($size): identical"
    fi
  done <"$frames/frames.txt"
}

# compare_threaded FRAMES LABEL NAME SIZE THREADS: after compare_outputs, the
# candidate enlarges the stream NAME again with THREADS instances at once; the
# frames must still be the native command's. Updates COMPARED and MISMATCHED.
compare_threaded() {
  local frames=$1 label=$2 name=$3 size=$4 threads=$5 status=0
  local output="$frames/$label/$name-threads$threads.raw"
  run_candidate "$size" "$frames/$name.raw" "$output" --threads "$threads" >"$output.log" 2>&1 || status=$?
  COMPARED=$((COMPARED + 1))
  if [ "$status" -ne 0 ]; then
    echo "  $name ($size, $threads threads): the $label command failed (status $status):"
    sed 's/^/    /' "$output.log"
    MISMATCHED=$((MISMATCHED + 1))
  elif ! cmp -s "$frames/reference/$name.raw" "$output"; then
    echo "  $name ($size, $threads threads): $label output differs from native"
    MISMATCHED=$((MISMATCHED + 1))
  else
    echo "  $name ($size, $threads threads): identical"
  fi
}
