#!/usr/bin/env bash
# The join job of slurm-film.sh: the enlarged video of SEGDIR's N segments,
# stream-copied through FFmpeg's concat demuxer, with IN's other streams,
# chapters and metadata, into OUT through a temporary file. SEGDIR is removed
# on success and kept on failure.
#   film-join.sh IN OUT SEGDIR N STREAM
set -uo pipefail
in=$1 out=$2 segdir=$3 segments=$4 stream=$5
name=$(basename "$out")
temporary="$(dirname "$out")/.${name%.*}.part-join-${SLURM_JOB_ID:-$$}.${name##*.}"
fail() {
  rm -f "$temporary"
  echo "join: $*; $out was not written; the segments are kept in $segdir" >&2
  exit 1
}
trap 'fail "stopped by a signal"' TERM INT

# Each segment keeps the source's timestamps. The concat demuxer moves file K
# by the sum of the durations before it minus the file's start time (as
# libavformat finds it, 0 when it finds none): durations from one start to
# the next, and the first start added back, leave every timestamp as it was.
list="$segdir/segments.ffconcat"
echo "ffconcat version 1.0" >"$list"
first_start=
previous=
for ((k = 0; k < segments; k++)); do
  file=$(printf '%s/segment-%04d.nut' "$segdir" "$k")
  [ -s "$file" ] || fail "segment $k ($file) is missing"
  start=$(ffprobe -v error -show_entries format=start_time -of csv=p=0 "$file")
  [ "$start" != N/A ] || start=0
  [[ "$start" =~ ^-?[0-9]+(\.[0-9]+)?$ ]] || fail "segment $k ($file) cannot be read"
  [ -n "$first_start" ] || first_start=$start
  [ -z "$previous" ] || awk -v a="$start" -v b="$previous" 'BEGIN { printf "duration %.6f\n", a - b }' >>"$list"
  printf "file '%s'\n" "$(basename "$file")" >>"$list"
  previous=$start
done

# IN's streams in IN's order, the enlarged video in place of stream STREAM;
# what a single run does not copy (data, other video) stays out.
maps=()
while IFS=, read -r index type; do
  if [ "$index" = "$stream" ]; then
    maps+=(-map 0:v:0)
  elif [ "$type" = audio ] || [ "$type" = subtitle ] || [ "$type" = attachment ]; then
    maps+=(-map "1:$index")
  fi
done < <(ffprobe -v error -show_entries stream=index,codec_type -of csv=p=0 "$in")

ffmpeg -nostdin -v error -y -itsoffset "$first_start" -f concat -safe 0 -i "$list" -i "$in" "${maps[@]}" \
  -map_metadata 1 -map_chapters 1 -c copy -copyts -avoid_negative_ts disabled -muxdelay 0 -muxpreload 0 \
  "$temporary" || fail "ffmpeg could not join the segments"
mv -f -- "$temporary" "$out" || fail "cannot rename $temporary to $out"
rm -rf -- "$segdir"
