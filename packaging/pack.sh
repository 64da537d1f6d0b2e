#!/bin/bash
# Makes one build tree's release files from its built program: the zip for
# portable use, the MSI, and SHA256SUMS over both. Every packed file carries
# the commit's time and fixed modes, in a fixed order, so that one commit
# packs to the same bytes in any folder at any time.
# Usage: pack.sh RELEASE_ENV   (written by packaging/CMakeLists.txt)
set -euo pipefail
# shellcheck source=/dev/null
source "$1"
here="$(cd "$(dirname "$0")" && pwd)"
files=(Vorlane.exe VorlaneGuard.exe WrRdIO.dll README-Windows.txt)

rm -rf "$STAGE"
mkdir -p "$STAGE"
cp "$BIN_DIR/Vorlane.exe" "$BIN_DIR/VorlaneGuard.exe" "$BIN_DIR/WrRdIO.dll" "$README" "$ICON" "$STAGE/"
chmod 0644 "$STAGE"/*
chmod 0755 "$STAGE"/*.exe "$STAGE"/*.dll
touch -d "@$EPOCH" "$STAGE"/*
# Zip and cabinet entries hold local times.
export TZ=UTC

rm -f "$ZIP"
(cd "$STAGE" && zip -q -X -D "$ZIP" "${files[@]}")

# wixl reads the sources from the folder it runs in.
raw="$STAGE/package.msi"
(cd "$STAGE" && wixl -a "$MSI_ARCH" -o "$raw" \
    -D Version="$VERSION" -D Publisher="$PUBLISHER" -D Bits="$BITS" \
    -D ProductCode="$PRODUCT_CODE" -D UpgradeCode="$UPGRADE_CODE" \
    -D ProgramGuid="$PROGRAM_GUID" -D GuardianGuid="$GUARDIAN_GUID" \
    -D ReadmeGuid="$README_GUID" -D StandInGuid="$STANDIN_GUID" \
    -D ProgramFilesFolder="$PROGRAM_FILES" -D Win64="$WIN64" -D IconFile="$(basename "$ICON")" \
    "$here/Vorlane.wxs" 2>&1 | { grep -v 'builder.vala:[0-9]*: unimplemented' || true; })

# What wixl 0.101 cannot write from the source, set in its tables.
standin_attrs="$(msiinfo export "$raw" Component | awk -F'\t' '$1 == "StandIn" { print $4 }')"
queries=(
    # msidbComponentAttributesNeverOverwrite (128): the stand-in is not
    # installed or reinstalled while a WrRdIO.dll is in its place.
    "UPDATE Component SET Attributes = $((standin_attrs | 128)) WHERE Component = 'StandIn'"
    # A target path, not a feature: the shortcut is not advertised (wixl
    # writes the feature, whatever the source says).
    "UPDATE Shortcut SET Target = '[#VorlaneExe]' WHERE Shortcut = 'StartMenuShortcut'"
    # Versioned files follow the version rules on an upgrade; wixl reads no
    # version from the executables.
    "UPDATE File SET Version = '$VERSION' WHERE File = 'VorlaneExe' OR File = 'VorlaneGuardExe'"
    # The older product is removed after the new one is in place
    # (afterInstallFinalize). Windows Installer removes a component only when
    # no installed product still uses it, so what both versions share (one
    # GUID per file path, for good) stays, and with it the removal of the
    # files the user put beside the program, which belongs to the program's
    # component.
    "UPDATE InstallExecuteSequence SET Sequence = 6700 WHERE Action = 'RemoveExistingProducts'"
    # Uninstall takes the folder away whole: whatever WrRdIO.dll is there, and
    # data\Led.ini.
    "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode) VALUES ('Library', 'Program', 'WrRdIO.dll', 'INSTALLDIR', 2)"
    "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode) VALUES ('PlatformIni', 'Program', 'Led.ini', 'DATADIR', 2)"
    "INSERT INTO RemoveFile (FileKey, Component_, FileName, DirProperty, InstallMode) VALUES ('DataFolder', 'Program', '', 'DATADIR', 2)"
)
args=()
for q in "${queries[@]}"; do args+=(-q "$q"); done
msibuild "$raw" "${args[@]}"

# The summary information: the commit's time, and a package code taken from
# the package's own bytes (with the code itself zero while they are hashed).
python3 "$here/msi_summary.py" "$raw" "$EPOCH" 00000000-0000-0000-0000-000000000000
h="$(sha256sum "$raw" | cut -c1-32)"
code="${h:0:8}-${h:8:4}-5${h:13:3}-$(printf '%x' $(((0x${h:16:1} & 3) | 8)))${h:17:3}-${h:20:12}"
python3 "$here/msi_summary.py" "$raw" "$EPOCH" "$code"
mv "$raw" "$MSI"

(cd "$(dirname "$ZIP")" && sha256sum "$(basename "$ZIP")" "$(basename "$MSI")" >SHA256SUMS)
