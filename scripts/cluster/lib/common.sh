# shellcheck shell=bash disable=SC2034
# Sourced by slurm-film.sh and slurm-pictures.sh: messages, the command's
# path, crestdoubler's options, submitting and waiting for Slurm jobs.

NAME=$(basename "$0" .sh)
CLUSTER_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$CLUSTER_SCRIPTS/jobs"

say() { echo "$NAME: $*" >&2; }
usage_error() {
  say "$*"
  exit 2
}
die() {
  say "$*"
  exit 1
}

# The crestdoubler command: $CRESTDOUBLER, else the one on PATH, else this
# tree's build. Every node runs it from this same path.
find_crestdoubler() {
  local command=${CRESTDOUBLER:-}
  [ -n "$command" ] || command=$(command -v crestdoubler || true)
  [ -n "$command" ] || command="$CLUSTER_SCRIPTS/../../build/crestdoubler"
  [ -x "$command" ] || usage_error "no crestdoubler command: install it on every node at the same path, or set CRESTDOUBLER"
  realpath "$command"
}

# Splits crestdoubler's options (into OPTIONS) from the paths (into PATHS),
# refusing the options these scripts set.
OPTIONS=()
PATHS=()
split_arguments() {
  local argument name value
  while [ $# -gt 0 ]; do
    argument=$1
    shift
    case "$argument" in
      --) PATHS+=("$@"); return ;;
      --*=*) name=${argument%%=*} value=${argument#*=} OPTIONS+=("$argument") ;;
      --size | --module | --threads | -o | --output-dir | --suffix | --quality | --codec | --crf | --preset | \
        --encoder-option | --stream | --start | --first-frame | --frames | --piece-frames | --pieces)
        [ $# -gt 0 ] || usage_error "option $argument needs a value"
        name=$argument value=$1
        OPTIONS+=("$argument" "$value")
        shift ;;
      -?*) name=$argument value='' OPTIONS+=("$argument") ;;
      *) PATHS+=("$argument"); continue ;;
    esac
    case "$name" in
      --pieces | -o | --output-dir | --size)
        usage_error "$name is set by this script, not given to it" ;;
    esac
  done
}

# The scripts' own options, anywhere among crestdoubler's: COUNT_OPTION N
# (--segments or --tasks) into COUNT, --cpus-per-task N, --wait and --help;
# the rest goes through split_arguments.
COUNT=
CPUS_PER_TASK=
WAIT=
parse_arguments() {
  local count_option=$1
  local arguments=()
  shift
  while [ $# -gt 0 ]; do
    case "$1" in
      "$count_option" | --cpus-per-task)
        [[ "${2:-}" =~ ^[1-9][0-9]{0,4}$ ]] || usage_error "$1 needs a whole number from 1"
        if [ "$1" = --cpus-per-task ]; then CPUS_PER_TASK=$2; else COUNT=$2; fi
        shift 2 ;;
      --wait) WAIT=1; shift ;;
      --help | -h)
        awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
        exit 0 ;;
      *) arguments+=("$1"); shift ;;
    esac
  done
  split_arguments "${arguments[@]}"
}

# One task per node of the default partition unless COUNT says otherwise,
# and no more than there are pieces of work.
task_count() {
  local work=$1 count=$COUNT
  [ -n "$count" ] || count=$(sinfo -h -o '%D %P' | awk '$2 ~ /\*$/ { print $1; exit }')
  [ -n "$count" ] || count=1
  [ "$count" -le "$work" ] || count=$work
  echo "$count"
}

# Whole nodes by default (one task per node, a filter instance per CPU), or
# --cpus-per-task CPUs each.
sbatch_cpus() {
  if [ -n "${CPUS_PER_TASK:-}" ]; then echo "--cpus-per-task=$CPUS_PER_TASK"; else echo "--exclusive"; fi
}

# sbatch --parsable ARGUMENTS...: prints the job id.
submit() {
  local reply
  reply=$(sbatch --parsable "$@") || die "sbatch refused the job"
  echo "${reply%%;*}"
}

# "TASK STATE EXITCODE" for each element of a job (TASK - when it is not an
# array); nothing once Slurm has forgotten the job.
job_states() {
  scontrol -o show job "$1" 2>/dev/null | awk '{
    task = "-"; state = ""; code = ""
    for (i = 1; i <= NF; i++) {
      split($i, pair, "=")
      if (pair[1] == "ArrayTaskId") task = pair[2]
      else if (pair[1] == "JobState") state = pair[2]
      else if (pair[1] == "ExitCode") code = pair[2]
    }
    print task, state, code
  }'
}

# Waits until every element of the job has ended.
wait_for_job() {
  local states
  while :; do
    states=$(job_states "$1")
    [ -n "$states" ] || return 0
    echo "$states" | grep -qvE ' (COMPLETED|FAILED|CANCELLED|TIMEOUT|NODE_FAIL|PREEMPTED|OUT_OF_MEMORY|BOOT_FAIL|DEADLINE) ' ||
      return 0
    sleep 2
  done
}
