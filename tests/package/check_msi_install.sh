#!/bin/bash
# The MSI as a user runs it, under Wine in a fresh prefix of the build's
# architecture: a silent install puts the files under Program Files, a
# Start menu shortcut and an Installed-apps entry; the installed program runs
# (test_release, from that folder); a reinstall and an upgrade keep a foreign
# WrRdIO.dll that replaced the stand-in; uninstall leaves no file, shortcut
# or entry.
# Usage: check_msi_install.sh MSI TREE VERSION PUBLISHER
set -uo pipefail
msi="$1" tree="$2" version="$3" publisher="$4"
source "$(dirname "$0")/../../tools/wineenv.sh"
source "$(dirname "$0")/checks.sh"

[ -f "$msi" ] || { echo "FAIL: $msi is missing: the normal build makes it"; exit 1; }
code="$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }')"
vorlane_use_wine "$tree" || exit 1
prefix="$tree/wine-msi"
rm -rf "$prefix"
trap 'wineserver -k 2>/dev/null' EXIT
vorlane_start_wine_desktop "$prefix" || exit 1
dir="$prefix/drive_c/Program Files/Vorlane"
win_dir='C:\Program Files\Vorlane'
entry="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code"
msiexec() {
    wine msiexec "$@" /qn </dev/null >/dev/null 2>&1 || fail "msiexec $* ended with $?"
}
# Wine puts a per-machine shortcut in the user's Start menu, Windows in the
# shared one: either counts.
shortcuts() {
    find "$prefix/drive_c/ProgramData" "$prefix/drive_c/users" -iname 'Vorlane*.lnk' 2>/dev/null
}

msiexec /i "$(winepath -w "$msi")"
expect_release_files "$dir" "$tree" "the install folder"
[ -n "$(shortcuts)" ] || fail "no Start menu shortcut"
listed="$(wine reg query "$entry" 2>/dev/null | tr -d '\r')"
for must in "DisplayName    REG_SZ    Vorlane" "DisplayVersion    REG_SZ    $version" \
    "Publisher    REG_SZ    $publisher"; do
    grep -qF -- "$must" <<<"$listed" || fail "the Installed-apps entry $entry lacks \"$must\""
done

VORLANE_RELEASE_DIR="$win_dir" wine "$tree/test_release.exe" --gtest_color=no </dev/null ||
    fail "the installed program did not pass test_release"

# A maker's library, older than the install: by the file rules alone a
# reinstall would put the stand-in back over it. Vorlane.exe is taken away
# to see that the reinstall did install.
printf 'a foreign WrRdIO.dll\r\n' >"$dir/WrRdIO.dll"
touch -d '2001-01-01' "$dir/WrRdIO.dll"
rm -f "$dir/Vorlane.exe"
msiexec /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=amus
[ -f "$dir/Vorlane.exe" ] || fail "the reinstall did not put Vorlane.exe back"
grep -q 'a foreign WrRdIO.dll' "$dir/WrRdIO.dll" 2>/dev/null ||
    fail "the reinstall replaced the foreign WrRdIO.dll"

# A newer release (this package with a higher version and its own codes):
# the major upgrade removes this one once the newer one is in place, which
# keeps the foreign library and data\Led.ini.
mkdir -p "$dir/data"
printf '[PLATFORM_TYPE]\r\nValue=1\r\n' >"$dir/data/Led.ini"
IFS=. read -r major minor build revision <<<"$version"
newer_version="$major.$minor.$((build + 1)).$revision" newer="$prefix/newer.msi"
newer_code="{$(python3 -c 'import uuid; print(str(uuid.uuid4()).upper())')}"
upgrade="$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')"
cp "$msi" "$newer"
msibuild "$newer" -q "UPDATE Property SET Value = '$newer_version' WHERE Property = 'ProductVersion'" \
    -q "UPDATE Property SET Value = '$newer_code' WHERE Property = 'ProductCode'" \
    -q "DELETE FROM Upgrade WHERE UpgradeCode = '$upgrade'" \
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('$upgrade', '$newer_version', 1, 'WIX_UPGRADE_DETECTED')"
python3 "$(dirname "$0")/../../packaging/msi_summary.py" "$newer" 0 "${newer_code//[{\}]/}"
msiexec /i "$(winepath -w "$newer")"
wine reg query "$entry" >/dev/null 2>&1 && fail "the upgrade left the older version's entry"
newer_entry="${entry%\\*}\\$newer_code"
wine reg query "$newer_entry" 2>/dev/null | tr -d '\r' | grep -qF "DisplayVersion    REG_SZ    $newer_version" ||
    fail "the upgrade did not install $newer_version"
grep -q 'a foreign WrRdIO.dll' "$dir/WrRdIO.dll" 2>/dev/null || fail "the upgrade replaced the foreign WrRdIO.dll"
[ -f "$dir/data/Led.ini" ] || fail "the upgrade removed data\\Led.ini"

msiexec /x "$(winepath -w "$newer")"
[ ! -e "$dir" ] || fail "uninstall left $(find "$dir" | tr '\n' ' ')"
[ -z "$(shortcuts)" ] || fail "uninstall left the shortcut $(shortcuts)"
wine reg query "$newer_entry" >/dev/null 2>&1 && fail "uninstall left the Installed-apps entry $newer_entry"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed; the prefix is left in $prefix"
    exit 1
fi
wineserver -k 2>/dev/null
rm -rf "$prefix"
echo "installed, ran, reinstalled and uninstalled $msi in a fresh prefix"
