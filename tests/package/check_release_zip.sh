#!/bin/bash
# The release zip as a user gets it: unpacked with unzip into a fresh folder,
# it holds this build's program, guardian and simulated EC and a Windows
# readme for this bitness, and nothing else. The folder is left for the run
# under Wine (test_release).
# Usage: check_release_zip.sh ZIP BUILD_DIR BITS UNPACK_DIR
set -uo pipefail

zip="$1" build="$2" bits="$3" unpacked="$4"
source "$(dirname "$0")/checks.sh"

if [ ! -f "$zip" ]; then
    echo "FAIL: $zip is missing: the normal build makes it"
    exit 1
fi
tested="$(unzip -tq "$zip" 2>&1)" || fail "unzip finds $zip damaged: $tested"

rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked" || {
    echo "FAIL: $zip does not unpack"
    exit 1
}
# The package holds the program and library built with it, not older ones.
expect_release_files "$unpacked" "$build" "the zip"

# A Windows text file: every line ends in CR LF, the last one too.
readme="$unpacked/README-Windows.txt"
if [ -s "$readme" ]; then
    bare="$(LC_ALL=C grep -c -v $'\r$' "$readme")"
    [ "$bare" = 0 ] || fail "README-Windows.txt has $bare line(s) not ending in CR LF"
    [ -z "$(tail -c 1 "$readme")" ] || fail "README-Windows.txt does not end with a line break"
    lines="$(wc -l <"$readme")"
    [ "$lines" -gt 10 ] || fail "README-Windows.txt has only $lines lines"
    # It tells where both executables go (installed, or copied, not moved),
    # how to put the maker's library in
    # place and pick the variant, names the bitness of the program it comes
    # with, and what a library of the other bitness shows.
    for must in "Vorlane.exe and VorlaneGuard.exe together" "do not move" "Program Files" \
        "msiexec /i Vorlane-" _GetRegisterValue@36 \
        _SetRegisterValue@40 "the program ($bits-bit Windows)" 0xc000007b "[PLATFORM_TYPE]" \
        Value=1 administrator; do
        grep -qF -- "$must" "$readme" || fail "README-Windows.txt does not say \"$must\""
    done
else
    fail "README-Windows.txt is missing or empty"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "checked $zip, unpacked in $unpacked"
