# Sourced by the completion tests, after the completion script:
#   COMPLETE=_function; expect "WORDS" "EXPECTED"
# WORDS is the command line up to the cursor, as readline splits it (at
# spaces and at '='); EXPECTED the sorted replies, comma-separated. A
# mismatch is printed and sets failed=1.
failed=0
expect() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "$COMPLETE"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd, | sed 's/,/, /g')
    if [ "$got" != "$2" ]; then
        echo "FAILED: '$1': expected '$2', got '$got'"
        failed=1
    fi
}
