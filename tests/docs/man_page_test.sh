#!/usr/bin/env bash
# The man page was built from the options list: it is roff that man formats,
# it documents every option of the list, and the installed .gz is the same page.
#   man_page_test.sh MAN_PAGE OPTIONS_LIST
set -uo pipefail
page=$1 list=$2
failed=0
fail() { echo "FAILED: $*"; failed=1; }
[ -s "$page" ] || { echo "FAILED: $page was not built"; exit 1; }
cmp -s "$page" <(gzip -dc "$page.gz") || fail "$page.gz is not $page"
text=$(MANWIDTH=200 man -l "$page" 2>&1 | col -b) || fail "man cannot format $page"
for section in NAME SYNOPSIS OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -q "^$section\$" <<<"$text" || fail "no $section section"
done
while IFS='|' read -r names _; do
    [[ $names == \#* || $names == @* || -z $names ]] && continue
    for name in ${names//,/ }; do
        # An option's heading: indented once, its spellings separated by commas.
        sed -n '/^OPTIONS$/,/^[A-Z]/p' <<<"$text" | grep -Eq -- "^ {7}([^ ]+, )*$name( |,|\$)" ||
            fail "option $name has no entry under OPTIONS"
    done
done <"$list"
grep -q '@[A-Z]*@' "$page" && fail "a placeholder was left in $page"
[ "$failed" -eq 0 ] && echo "PASS: the man page formats and documents every option"
exit "$failed"
