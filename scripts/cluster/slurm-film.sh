#!/usr/bin/env bash
# Enlarges a film on a Slurm cluster:
#   slurm-film.sh [--segments N] [--cpus-per-task N] [--wait] [crestdoubler options] IN OUT
# The film is made in the pieces a single crestdoubler run makes (a fixed
# number of frames each, about 10 s), in the same work folder beside OUT
# (.OUT.parts) with the same journal: an array job of N tasks makes a share
# of the pieces each, and a join job that waits for all of them (afterok)
# runs crestdoubler to join them, with IN's audio, subtitles, attachments,
# chapters and metadata, into OUT through a temporary file and a rename. The
# result is what one crestdoubler run writes. Run again after a failure, the
# same command makes only the pieces the journal lacks; --restart throws the
# work folder away first.
#
# IN, OUT and the crestdoubler command must be at the same paths on every
# node (shared storage). N defaults to the number of nodes of the default
# partition; each task has a node to itself unless --cpus-per-task is given.
# sbatch takes its other settings (partition, time limit, account) from its
# SBATCH_* variables. Prints the job ids; with --wait, waits and exits with
# the join's status.
set -uo pipefail
. "$(dirname "$0")/lib/common.sh"

parse_arguments --segments "$@"
[ "${#PATHS[@]}" -eq 2 ] || usage_error "expected IN and OUT after the options (see --help)"
for tool in sbatch scontrol sinfo; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
CRESTDOUBLER=$(find_crestdoubler)
IN=$(realpath -e -- "${PATHS[0]}") || die "no input ${PATHS[0]}"
OUT=$(realpath -m -- "${PATHS[1]}")
[ -d "$(dirname "$OUT")" ] || die "no folder $(dirname "$OUT") for $OUT"
WORK="$(dirname "$OUT")/.$(basename "$OUT").parts"

# Binds the work folder to this film and these options (emptying it if it
# holds another's) and counts the pieces, as a single run would.
read -r PIECES DONE < <("$CRESTDOUBLER" "${OPTIONS[@]}" --pieces plan "$IN" "$OUT") ||
  die "crestdoubler cannot plan $OUT"
[[ "$PIECES" =~ ^[1-9][0-9]*$ ]] || die "crestdoubler cannot plan $OUT"
# Only the restart is for the plan: the tasks and the join keep what is there.
TASK_OPTIONS=()
for option in "${OPTIONS[@]}"; do [ "$option" = --restart ] || TASK_OPTIONS+=("$option"); done
SEGMENTS=$(task_count "$PIECES")

name=$(basename "$OUT")
segments=$(submit --job-name="crestdoubler-pieces:$name" --array="0-$((SEGMENTS - 1))" "$(sbatch_cpus)" \
  --chdir="$WORK" --output="$WORK/task-%4a.log" \
  "$JOBS/film-segment.sh" "$CRESTDOUBLER" "$IN" "$OUT" "$SEGMENTS" "${TASK_OPTIONS[@]}") || exit 1
join=$(submit --job-name="crestdoubler-join:$name" --dependency="afterok:$segments" --kill-on-invalid-dep=yes \
  --chdir="$WORK" --output="$WORK/join.log" \
  "$JOBS/film-join.sh" "$CRESTDOUBLER" "$IN" "$OUT" "${TASK_OPTIONS[@]}") || exit 1
echo "segments: job $segments (array of $SEGMENTS, $PIECES pieces, $DONE done)"
echo "join: job $join"
[ -n "$WAIT" ] || exit 0

wait_for_job "$join"
read -r _ state code < <(job_states "$join")
# A job Slurm has already forgotten is told by what it left.
if [ "$state" = COMPLETED ] || { [ -z "$state" ] && [ -e "$OUT" ] && [ ! -e "$WORK" ]; }; then
  echo "$OUT written"
  exit 0
fi
if [ -f "$WORK/join.log" ] && [ -s "$WORK/join.log" ]; then
  cat "$WORK/join.log" >&2
  say "the join ended ${state:-unknown}, exit code ${code:-unknown}: $OUT was not written"
  status=${code%%:*}
  [[ "$status" =~ ^[1-9][0-9]*$ ]] || status=1
  exit "$status"
fi
# The join never ran: say which tasks did not finish.
wait_for_job "$segments"
job_states "$segments" | sort -n | while read -r task state code; do
  [ "$state" = COMPLETED ] && continue
  first=$((task * PIECES / SEGMENTS))
  last=$(((task + 1) * PIECES / SEGMENTS - 1))
  say "task $task of $SEGMENTS (pieces $first to $last) ended $state, exit code $code: see $(printf '%s/task-%04d.log' "$WORK" "$task")"
done
die "$OUT was not written; the finished pieces are kept in $WORK: the same command resumes"
