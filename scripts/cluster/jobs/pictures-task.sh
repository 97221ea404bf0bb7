#!/usr/bin/env bash
# One array task of slurm-pictures.sh: every N-th picture from the task id on,
# enlarged by crestdoubler -o OUTDIR.
#   pictures-task.sh CRESTDOUBLER OUTDIR N COUNT OPTION... PICTURE...
# (COUNT crestdoubler options, then the pictures of every task)
set -uo pipefail
crestdoubler=$1 outdir=$2 tasks=$3 count=$4
shift 4
options=("${@:1:count}")
shift "$count"
task=${SLURM_ARRAY_TASK_ID:?not run as a Slurm array task}
mine=()
for ((i = task; i < $#; i += tasks)); do
  mine+=("${@:i+1:1}")
done
threads=${SLURM_CPUS_PER_TASK:-${SLURM_CPUS_ON_NODE:-1}}
[ "$threads" -le 64 ] || threads=64
exec "$crestdoubler" --threads "$threads" "${options[@]}" -o "$outdir" -- "${mine[@]}"
