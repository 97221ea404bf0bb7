#!/usr/bin/env bash
# Enlarges a film on a Slurm cluster:
#   slurm-film.sh [--segments N] [--cpus-per-task N] [--wait] [crestdoubler options] IN OUT
# An array job of N tasks enlarges the film's video in N pieces of whole
# frames, each into OUT.segments/ beside OUT; a join job that waits for all
# of them (afterok) puts the pieces together with FFmpeg's concat demuxer
# (stream copy), takes audio, subtitles, attachments, chapters and metadata
# from IN, and writes OUT through a temporary file and a rename. The result
# is what one crestdoubler run would write.
#
# IN, OUT and the crestdoubler command must be at the same paths on every
# node (shared storage); ffmpeg and ffprobe must be installed there too.
# N defaults to the number of nodes of the default partition; each task has
# a node to itself unless --cpus-per-task is given. sbatch takes its other
# settings (partition, time limit, account) from its SBATCH_* variables.
# Prints the job ids; with --wait, waits and exits with the join's status.
set -uo pipefail
. "$(dirname "$0")/lib/common.sh"

parse_arguments --segments "$@"
[ "${#PATHS[@]}" -eq 2 ] || usage_error "expected IN and OUT after the options (see --help)"
for tool in sbatch scontrol sinfo ffprobe; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
CRESTDOUBLER=$(find_crestdoubler)
IN=$(realpath -e -- "${PATHS[0]}") || die "no input ${PATHS[0]}"
OUT=$(realpath -m -- "${PATHS[1]}")
SEGDIR="$OUT.segments"
case "${OUT##*.}" in
  mkv | mp4 | m4v | mov | webm | nut | ts | m2ts | mts | avi | flv) ;;
  *) usage_error "$OUT: the pieces are joined into .mkv .mp4 .m4v .mov .webm .nut .ts .m2ts .mts .avi or .flv" ;;
esac
[ -d "$(dirname "$OUT")" ] || die "no folder $(dirname "$OUT") for $OUT"
[ ! -e "$SEGDIR" ] || die "$SEGDIR is there already, from an earlier run: remove it first"

# The video stream: --stream, or the first one that is not a cover picture.
if [ -z "$STREAM" ]; then
  STREAM=$(ffprobe -v error -show_entries stream=index,codec_type:stream_disposition=attached_pic -of csv=p=0 "$IN" |
    awk -F, '$2 == "video" && $3 != 1 { print $1; exit }')
  [ -n "$STREAM" ] || die "$IN has no video stream"
fi
FRAMES=$(ffprobe -v error -select_streams "$STREAM" -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$IN")
[[ "$FRAMES" =~ ^[1-9][0-9]*$ ]] || die "$IN: cannot count the frames of stream $STREAM"
SEGMENTS=$(task_count "$FRAMES")

# Segments take the encoder a single run would choose for OUT's container.
[ -n "$HAS_CODEC" ] || [ "${OUT##*.}" != webm ] || OPTIONS=(--codec libvpx-vp9 "${OPTIONS[@]}")

mkdir -p "$SEGDIR" || die "cannot make $SEGDIR"
name=$(basename "$OUT")
segments=$(submit --job-name="crestdoubler-segments:$name" --array="0-$((SEGMENTS - 1))" "$(sbatch_cpus)" \
  --chdir="$SEGDIR" --output="$SEGDIR/segment-%4a.log" \
  "$JOBS/film-segment.sh" "$CRESTDOUBLER" "$IN" "$SEGDIR" "$SEGMENTS" "$FRAMES" "$STREAM" "${OPTIONS[@]}") || exit 1
join=$(submit --job-name="crestdoubler-join:$name" --dependency="afterok:$segments" --kill-on-invalid-dep=yes \
  --chdir="$SEGDIR" --output="$SEGDIR/join.log" \
  "$JOBS/film-join.sh" "$IN" "$OUT" "$SEGDIR" "$SEGMENTS" "$STREAM") || exit 1
echo "segments: job $segments (array of $SEGMENTS, $FRAMES frames)"
echo "join: job $join"
[ -n "$WAIT" ] || exit 0

wait_for_job "$join"
read -r _ state code < <(job_states "$join")
# A job Slurm has already forgotten is told by what it left.
if [ "$state" = COMPLETED ] || { [ -z "$state" ] && [ -e "$OUT" ] && [ ! -e "$SEGDIR" ]; }; then
  echo "$OUT written"
  exit 0
fi
if [ -f "$SEGDIR/join.log" ]; then
  cat "$SEGDIR/join.log" >&2
  say "the join ended ${state:-unknown}, exit code ${code:-unknown}: $OUT was not written"
  status=${code%%:*}
  [[ "$status" =~ ^[1-9][0-9]*$ ]] || status=1
  exit "$status"
fi
# The join never ran: say which segments did not finish.
wait_for_job "$segments"
job_states "$segments" | sort -n | while read -r task state code; do
  [ "$state" = COMPLETED ] && continue
  first=$((task * FRAMES / SEGMENTS))
  last=$(((task + 1) * FRAMES / SEGMENTS - 1))
  say "segment $task of $SEGMENTS (frames $first to $last) ended $state, exit code $code: see $(printf '%s/segment-%04d.log' "$SEGDIR" "$task")"
done
die "$OUT was not written; the finished segments are kept in $SEGDIR"
