#!/bin/bash
# The release is reproducible: the same sources, copied to another folder and
# built there again into other trees, later, give every release file of both
# architectures byte for byte: the programs, the stand-in library, the zips,
# the MSIs and SHA256SUMS. The second build takes the first one's time
# (SOURCE_DATE_EPOCH), as anyone rebuilding a release would.
# Usage: check_reproducible.sh SOURCES BUILDS VERSION   (BUILDS holds win32/ and win64/)
set -uo pipefail
sources="$1" builds="$2" version="$3"
again="$builds/again"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

epoch="$(sed -n "s/^EPOCH='\(.*\)'$/\1/p" "$builds/win64/packaging/release.env" 2>/dev/null)"
[ -n "$epoch" ] || { echo "FAIL: $builds/win64 has not been built"; exit 1; }

# The working tree as it stands, tracked and new files, without the builds.
rm -rf "$again"
mkdir -p "$again/src"
(cd "$sources" && git ls-files -co --exclude-standard -z) |
    (cd "$sources" && xargs -0 cp --parents -t "$again/src" 2>/dev/null)
[ -f "$again/src/tools/build.sh" ] || { echo "FAIL: could not copy $sources"; exit 1; }

if ! SOURCE_DATE_EPOCH="$epoch" VORLANE_BUILD="$again" \
    bash "$again/src/tools/build.sh" --target release >"$again/build.log" 2>&1; then
    tail -n 30 "$again/build.log"
    echo "FAIL: the second build failed (log: $again/build.log)"
    exit 1
fi

for arch in win32 win64; do
    for name in Vorlane.exe VorlaneGuard.exe WrRdIO.dll "Vorlane-$version-$arch.zip" \
        "Vorlane-$version-$arch.msi" SHA256SUMS; do
        first="$builds/$arch/$name" second="$again/$arch/$name"
        if [ ! -f "$first" ] || [ ! -f "$second" ]; then
            fail "$arch/$name is missing from a build"
        elif ! cmp -s "$first" "$second"; then
            fail "$arch/$name differs in $(cmp -l "$first" "$second" 2>/dev/null | wc -l) byte(s)," \
                "the first at offset $(cmp "$first" "$second" | awk '{ print $5 }' | tr -d ,)"
        else
            echo "same: $arch/$name ($(stat -c %s "$first") bytes)"
        fi
    done
done

if [ "$failures" -gt 0 ]; then
    echo "$failures file(s) differ; the second build is left in $again"
    exit 1
fi
rm -rf "$again"
echo "the second build, in $again from a copy of the sources, matches byte for byte"
