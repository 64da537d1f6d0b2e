#!/bin/bash
# How ctest starts a test executable: under the tree's Wine (the first
# argument), with the rest as its command line. Wine now and then loses a new
# process in its own start-up, before the program has printed a line; such a
# start is said and made once more. A test that printed anything stands as it
# ended.
wine="$1"
shift
out="$(mktemp "${TMPDIR:-/tmp}/vorlane-ctest.XXXXXX")"
trap 'rm -f "$out"' EXIT
for attempt in 1 2; do
    # Into a file, not a pipe: processes a test starts may outlive it holding
    # its output, and a pipe would stay open until they end.
    "$wine" "$@" >"$out" 2>&1
    rc=$?
    cat "$out"
    if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ "$attempt" -eq 2 ]; then
        exit "$rc"
    fi
    echo "ctest-wine: $(basename "$1") ended with $rc before printing anything; starting it again"
    sleep 1
done
