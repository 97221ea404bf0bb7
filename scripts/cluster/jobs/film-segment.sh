#!/usr/bin/env bash
# One array task of slurm-film.sh: share K (the task id) of N of the pieces
# of OUT, made by crestdoubler into OUT's work folder; pieces the journal
# already holds are skipped.
#   film-segment.sh CRESTDOUBLER IN OUT N [crestdoubler options]
set -uo pipefail
crestdoubler=$1 in=$2 out=$3 segments=$4
shift 4
task=${SLURM_ARRAY_TASK_ID:?not run as a Slurm array task}
# A filter instance per CPU Slurm gave the task; --threads among the options wins.
threads=${SLURM_CPUS_PER_TASK:-${SLURM_CPUS_ON_NODE:-1}}
[ "$threads" -le 64 ] || threads=64

trap 'echo "task $task of $segments: stopped by a signal" >&2' TERM INT
"$crestdoubler" --threads "$threads" "$@" --pieces "$task/$segments" "$in" "$out"
status=$?
if [ "$status" -ne 0 ]; then
  echo "task $task of $segments (pieces of $out) failed, status $status" >&2
  exit "$status"
fi
