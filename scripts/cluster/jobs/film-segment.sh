#!/usr/bin/env bash
# One array task of slurm-film.sh: segment K (the task id) of N, a run of
# whole frames of IN's video, enlarged into SEGDIR/segment-K.nut.
#   film-segment.sh CRESTDOUBLER IN SEGDIR N FRAMES STREAM [crestdoubler options]
set -uo pipefail
crestdoubler=$1 in=$2 segdir=$3 segments=$4 frames=$5 stream=$6
shift 6
task=${SLURM_ARRAY_TASK_ID:?not run as a Slurm array task}
first=$((task * frames / segments))
next=$(((task + 1) * frames / segments))
# The last segment runs to the end, whatever the count said.
limit=()
[ $((task + 1)) -eq "$segments" ] || limit=(--frames $((next - first)))
# A filter instance per CPU Slurm gave the task; --threads among the options wins.
threads=${SLURM_CPUS_PER_TASK:-${SLURM_CPUS_ON_NODE:-1}}
[ "$threads" -le 64 ] || threads=64

trap 'echo "segment $task of $segments: stopped by a signal" >&2' TERM INT
output=$(printf '%s/segment-%04d.nut' "$segdir" "$task")
"$crestdoubler" --threads "$threads" "$@" --video-only --stream "$stream" --first-frame "$first" "${limit[@]}" \
  "$in" "$output"
status=$?
if [ "$status" -ne 0 ]; then
  echo "segment $task of $segments (frames $first to $((next - 1)) of $in) failed, status $status" >&2
  exit "$status"
fi
