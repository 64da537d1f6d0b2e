#!/bin/bash
# The MSI and SHA256SUMS read on the host with msitools, so a host that cannot
# execute 32-bit code still checks the 32-bit package: this build's files,
# per machine under the Program Files folder of the package's bitness, the
# stand-in a feature of its own that never overwrites a library in its place,
# a shortcut that is not advertised, the product's name, version and
# publisher, and a major-upgrade rule that removes the older product only
# after the new one is in place.
# Usage: check_release_msi.sh MSI BUILD_DIR BITS VERSION PUBLISHER
set -uo pipefail
msi="$1" build="$2" bits="$3" version="$4" publisher="$5"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
[ -f "$msi" ] || { echo "FAIL: $msi is missing: the normal build makes it"; exit 1; }

# One table's rows (the three header lines dropped), tab-separated.
rows() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
# The value in column $3 of the row whose first column is $2.
cell() { rows "$1" | awk -F'\t' -v key="$2" -v col="$3" '$1 == key { print $col }'; }

case "$bits" in
    32) template='Intel;1033' folder=ProgramFilesFolder component_bits=0 ;;
    64) template='x64;1033' folder=ProgramFiles64Folder component_bits=256 ;;
esac
msiinfo suminfo "$msi" | grep -qxF "Template: $template" || fail "the package is not for $template"
for pair in ProductName=Vorlane "ProductVersion=$version" "Manufacturer=$publisher" ALLUSERS=1; do
    [ "$(cell Property "${pair%%=*}" 2)" = "${pair#*=}" ] || fail "property ${pair%%=*} is not ${pair#*=}"
done
[ "$(cell Directory INSTALLDIR 2) $(cell Directory INSTALLDIR 3)" = "$folder Vorlane" ] ||
    fail "the install folder is not Vorlane under $folder"

# All components 64-bit or none, as the package.
while IFS=$'\t' read -r name _ _ attrs _; do
    [ $((attrs & 256)) = "$component_bits" ] || fail "component $name is not $bits-bit"
    # msidbComponentAttributesNeverOverwrite on the stand-in, and only there.
    want=0
    [ "$name" = StandIn ] && want=128
    [ $((attrs & 128)) = $want ] || fail "component $name: never-overwrite is $((attrs & 128)), not $want"
done < <(rows Component)
[ "$(rows FeatureComponents | awk -F'\t' '$2 == "StandIn" { print $1 }')" = SimulatedEC ] ||
    fail "the stand-in is not the SimulatedEC feature"

# A target path, not a feature name: the shortcut is not advertised.
[ "$(cell Shortcut StartMenuShortcut 2) $(cell Shortcut StartMenuShortcut 5)" = \
    "ProgramMenuFolder [#VorlaneExe]" ] || fail "the Start menu shortcut is not a plain link to Vorlane.exe"

upgrade="$(cell Property UpgradeCode 2)"
# A row that finds older versions of this upgrade code, and not only to detect
# them (msidbUpgradeAttributesOnlyDetect, 2).
rule="$(rows Upgrade | awk -F'\t' -v c="$upgrade" -v v="$version" \
    '$1 == c && $2 == "" && $3 == v && $7 == "WIX_UPGRADE_DETECTED" { print $5 }')"
[ -n "$rule" ] && [ $((rule & 2)) = 0 ] || fail "no major-upgrade rule for $upgrade below $version"
[ "$(cell InstallExecuteSequence RemoveExistingProducts 3)" -gt \
    "$(cell InstallExecuteSequence InstallFinalize 3)" ] 2>/dev/null ||
    fail "the older product is removed before the new one is in place"

# The payload is this build's.
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
if msiextract -C "$unpacked" "$msi" >/dev/null; then
    # msiextract names the folders by the directory table's own names.
    listed="$(cd "$unpacked" && find . -type f -printf '%P\n' | LC_ALL=C sort)"
    base="$(head -n 1 <<<"$listed")"
    base="${base%/*}"
    names="$(tr '\n' ' ' <<<"$listed")"
    [ "$names" = "$base/README-Windows.txt $base/Vorlane.exe $base/VorlaneGuard.exe $base/WrRdIO.dll " ] ||
        fail "the MSI holds: $names"
    for name in Vorlane.exe VorlaneGuard.exe WrRdIO.dll README-Windows.txt; do
        ref="$build/$name"
        [ "$name" = README-Windows.txt ] && ref="$build/packaging/$name"
        cmp -s "$unpacked/$base/$name" "$ref" || fail "$name in the MSI is not $ref"
    done
else
    fail "msiextract cannot unpack $msi"
fi

# SHA256SUMS beside them lists exactly the zip and the MSI, and both match.
sums="$(dirname "$msi")/SHA256SUMS"
[ "$(awk '{ print $2 }' "$sums" 2>/dev/null | LC_ALL=C sort | tr '\n' ' ')" = \
    "$(basename "${msi%.msi}").msi $(basename "${msi%.msi}").zip " ] ||
    fail "SHA256SUMS does not list the zip and the MSI"
(cd "$(dirname "$msi")" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "checked $msi"
