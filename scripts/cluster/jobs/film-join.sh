#!/usr/bin/env bash
# The join job of slurm-film.sh: crestdoubler joins the pieces in OUT's work
# folder, once its journal holds every one, with IN's other streams,
# chapters and metadata into OUT, and removes the folder; on failure OUT is
# not written and the pieces stay.
#   film-join.sh CRESTDOUBLER IN OUT [crestdoubler options]
set -uo pipefail
crestdoubler=$1 in=$2 out=$3
shift 3
"$crestdoubler" "$@" --pieces join "$in" "$out"
