#!/usr/bin/env bash
# The generated bash completion parses and offers the right words:
#   completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
script=$1
bash -n "$script" || { echo "FAILED: $script does not parse"; exit 1; }
# shellcheck source=/dev/null
. "$script"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/completion-test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" && mkdir out && touch photo.png scan.TIFF clip.mkv notes.txt -- -odd.jpg 'two words.png'

COMPLETE=_crestdoubler
# shellcheck source=completion_expect.sh
. "$(dirname "${BASH_SOURCE[0]}")/completion_expect.sh"
expect "crestdoubler --co" "--codec"
expect "crestdoubler --th" "--threads"
expect "crestdoubler --codec libx26" "libx264, libx265"
expect "crestdoubler --preset ve" "veryfast, veryslow"
expect "crestdoubler --preset = me" "medium"
expect "crestdoubler --preset=me" "medium"
expect "crestdoubler --size 640x360 --ke" "--keep-tags"
expect "crestdoubler --crf 2" "23, 28"
expect "crestdoubler --start " ""
expect "crestdoubler -o o" "out"
expect "crestdoubler --video-only " "-odd.jpg, clip.mkv, out, photo.png, scan.TIFF, two words.png"
expect "crestdoubler photo.png o" "out"
expect "crestdoubler --module " "-odd.jpg, clip.mkv, notes.txt, out, photo.png, scan.TIFF, two words.png"
expect "crestdoubler -- -" "-odd.jpg"
[ "$failed" -eq 0 ] && echo "PASS: the completion parses and completes options, values and paths"
exit "$failed"
