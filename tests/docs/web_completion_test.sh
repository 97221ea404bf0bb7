#!/usr/bin/env bash
# crestdoubler-web's generated completion parses and offers its options and values:
#   web_completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
script=$1
bash -n "$script" || { echo "FAILED: $script does not parse"; exit 1; }
# shellcheck source=/dev/null
. "$script"
COMPLETE=_crestdoubler_web
# shellcheck source=completion_expect.sh
. "$(dirname "${BASH_SOURCE[0]}")/completion_expect.sh"
expect "crestdoubler-web --p" "--port"
expect "crestdoubler-web --new" "--new-token"
expect "crestdoubler-web --bind " "0.0.0.0, 127.0.0.1, ::1"
expect "crestdoubler-web --port=" "0, 8080"
expect "crestdoubler-web --new-token --th" "--threads"
[ "$failed" -eq 0 ] && echo "PASS: the completion parses and completes"
exit "$failed"
