# Sourced by the package checks: a failure count, and what every copy of the
# release a user gets must hold.
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# FOLDER holds the four release files and nothing else, its binaries the very
# ones built in TREE. WHAT names the folder in a failure.
expect_release_files() {
    local folder="$1" tree="$2" what="$3" names name
    names="$(cd "$folder" 2>/dev/null && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')"
    [ "$names" = "README-Windows.txt Vorlane.exe VorlaneGuard.exe WrRdIO.dll " ] ||
        fail "$what holds: $names"
    for name in Vorlane.exe VorlaneGuard.exe WrRdIO.dll; do
        cmp -s "$folder/$name" "$tree/$name" || fail "$name in $what is not $tree/$name"
    done
}
