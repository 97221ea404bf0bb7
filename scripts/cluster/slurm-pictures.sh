#!/usr/bin/env bash
# Enlarges pictures on a Slurm cluster:
#   slurm-pictures.sh [--tasks N] [--cpus-per-task N] [--wait] [crestdoubler options] OUTDIR INPUT...
# The pictures (each INPUT a picture, or a folder whose pictures are taken,
# as crestdoubler -o takes them) are dealt out to an array job of N tasks,
# each running crestdoubler -o OUTDIR on its share. A picture that fails
# fails its task; the task's other pictures, and the other tasks, go on.
#
# The inputs, OUTDIR and the crestdoubler command must be at the same paths
# on every node (shared storage). N defaults to the number of nodes of the
# default partition; each task has a node to itself unless --cpus-per-task
# is given. sbatch takes its other settings from its SBATCH_* variables.
# Prints the job id; with --wait, waits, removes the logs of the tasks that
# succeeded and exits 1 if a task failed.
set -uo pipefail
. "$(dirname "$0")/lib/common.sh"

parse_arguments --tasks "$@"
[ "${#PATHS[@]}" -ge 2 ] || usage_error "expected OUTDIR and one or more inputs after the options (see --help)"
for tool in sbatch scontrol sinfo; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
CRESTDOUBLER=$(find_crestdoubler)
OUTDIR=$(realpath -m -- "${PATHS[0]}")

# The pictures, in a fixed order: folders give their own pictures (not
# subfolders or hidden files), by the extensions of cli/media/picture/picture_formats.cpp,
# as crestdoubler -o takes them.
pictures=()
for input in "${PATHS[@]:1}"; do
  if [ -d "$input" ]; then
    while IFS= read -r -d '' file; do pictures+=("$file"); done < <(
      find "$(realpath -e -- "$input")" -mindepth 1 -maxdepth 1 -type f ! -name '.*' \
        -regextype posix-extended -iregex '.*\.(png|jpe?g|webp|tiff?|jxl|avif|hei[cf]|gif)' -print0 | LC_ALL=C sort -z)
  else
    pictures+=("$(realpath -e -- "$input")") || die "no input $input"
  fi
done
[ "${#pictures[@]}" -gt 0 ] || die "no pictures in ${PATHS[*]:1}"
TASKS=$(task_count "${#pictures[@]}")
mkdir -p "$OUTDIR" || die "cannot make $OUTDIR"

job=$(submit --job-name="crestdoubler-pictures:$(basename "$OUTDIR")" --array="0-$((TASKS - 1))" "$(sbatch_cpus)" \
  --chdir="$OUTDIR" --output="$OUTDIR/.crestdoubler-task-%4a.log" \
  "$JOBS/pictures-task.sh" "$CRESTDOUBLER" "$OUTDIR" "$TASKS" "${#OPTIONS[@]}" "${OPTIONS[@]}" "${pictures[@]}") ||
  exit 1
echo "pictures: job $job (array of $TASKS, ${#pictures[@]} pictures)"
[ -n "$WAIT" ] || exit 0

wait_for_job "$job"
failed=0
while read -r task state code; do
  log=$(printf '%s/.crestdoubler-task-%04d.log' "$OUTDIR" "$task")
  if [ "$state" = COMPLETED ]; then
    rm -f "$log"
    continue
  fi
  say "task $task ended $state, exit code $code: see $log"
  failed=1
done < <(job_states "$job" | sort -n)
exit "$failed"
