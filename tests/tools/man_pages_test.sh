#!/bin/sh
# The manual pages as the Debian package installs them.
#   man_pages_test.sh render PAGE.1.gz...
#       each page renders without a warning (the check lintian runs), has a NAME
#       line for its program, and is compressed as Debian wants (gzip -9n);
#       exit 77 (skipped) where man is not installed
#   man_pages_test.sh covers PROGRAM PAGE.1.gz
#       every command and option PROGRAM --help names is documented in the page
#   man_pages_test.sh environment PROGRAM PAGE.1.gz
#       every Z58_ environment variable the program reads (each name a string
#       of its own in the binary) is an entry of the page's ENVIRONMENT section
set -u
fail=0
problem() {
    echo "FAILED: $*"
    fail=1
}

render() {
    command -v man >/dev/null 2>&1 || { echo "man is not installed: pages not rendered"; exit 77; }
    for page in "$@"; do
        [ -s "$page" ] || { problem "$page is missing"; continue; }
        name=$(basename "$page" .1.gz)
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || problem "$name: man warns: $warnings"
        if command -v lexgrog >/dev/null 2>&1; then
            lexgrog "$page" | grep -q ": \"$name - " || problem "$name: no NAME line lexgrog reads ($(lexgrog "$page"))"
        fi
        # gzip header: no file name (flags 00), no time stamp, best compression (XFL 02).
        header=$(od -An -tx1 -N9 "$page" | tr -d ' \n')
        case "$header" in
        1f8b08000000000002*) ;;
        *) problem "$name: not compressed with gzip -9n (header $header)" ;;
        esac
    done
}

# The page's roff source with \- as - and font changes dropped, for searching.
source_text() { gzip -dc "$1" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\%//g'; }

covers() {
    program=$1
    page=$2
    help=$("$program" --help) || { problem "$program --help failed"; return; }
    text=$(source_text "$page")
    # Commands: the help's entries that start with a lower-case word after two spaces.
    for command in $(printf '%s\n' "$help" | sed -nE 's/^  ([a-z][a-z-]+)( .*)?$/\1/p'); do
        printf '%s\n' "$text" | grep -qE "^\.(B|BR) $command( |\$)" ||
            problem "$(basename "$page"): command $command is not an entry of the page"
    done
    for option in $(printf '%s\n' "$help" | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        printf '%s\n' "$text" | grep -qF -- "$option" ||
            problem "$(basename "$page"): option $option is not documented"
    done
}

environment() {
    program=$1
    page=$2
    [ -s "$program" ] || { problem "$program is missing"; return; }
    # The section's entries: the lines after each .TP, up to the next section.
    entries=$(source_text "$page" | awk '/^\.SH/ { inside = ($2 == "ENVIRONMENT") } inside && after { print } { after = ($0 == ".TP") }')
    [ -n "$entries" ] || { problem "$(basename "$page"): no ENVIRONMENT section"; return; }
    names=$(LC_ALL=C grep -aoP 'Z58_[A-Z0-9_]+(?=\x00)' "$program" | sort -u)
    [ -n "$names" ] || { problem "$(basename "$program"): no Z58_ variable found in it"; return; }
    for name in $names; do
        printf '%s\n' "$entries" | grep -qE "(^|[ =,])$name([ =,\"]|\$)" ||
            problem "$(basename "$page"): $name is not an entry of ENVIRONMENT"
    done
}

mode=${1:-}
shift || true
case "$mode" in
render) render "$@" ;;
covers) covers "$@" ;;
environment) environment "$@" ;;
*) echo "usage: man_pages_test.sh render PAGE... | covers PROGRAM PAGE | environment PROGRAM PAGE" >&2; exit 2 ;;
esac
[ "$fail" -eq 0 ] && echo "ok"
exit "$fail"
