#!/bin/bash
# The programs as files, as Windows sees them before any of their code runs:
# format, subsystem, imports, exports, manifest and version, read on the host
# with binutils, so a host that cannot execute 32-bit code still checks the
# 32-bit product.
# Usage: check_image.sh VERSION ARCH=DIR [ARCH=DIR ...]   (ARCH win32 or win64)
set -uo pipefail

version="$1"
shift
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Windows' own DLLs, by the names 64-bit Wine provides: the 32-bit program is
# built from the same source as the 64-bit one, so a DLL that 64-bit Windows
# lacks is no system DLL for either.
system_dlls=
for dir in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows \
    /usr/lib64/wine/x86_64-windows; do
    if [ -f "$dir/kernel32.dll" ]; then
        system_dlls="$dir"
        break
    fi
done
if [ -z "$system_dlls" ]; then
    echo "FAIL: no 64-bit Wine DLL folder found to tell Windows' own DLLs (run tools/setup.sh)"
    exit 1
fi
is_system_dll() {
    local lower
    lower="$(printf '%s' "$1" | tr 'A-Z' 'a-z')"
    [ -f "$system_dlls/$lower" ]
}

# Every imported DLL, one per line ("DLL Name: X" in objdump -p).
imported_dlls() {
    sed -n 's/^\tDLL Name: //p' <<<"$1"
}

# The names imported from one DLL (ordinals show as objdump prints them).
imported_names() {
    awk -v dll="$2" '
        /^The Import Tables/ { inside = 1; next }
        inside && /^[A-Z]/ { inside = 0 }
        !inside { next }
        /^\tDLL Name: / { current = substr($0, 12); next }
        current == dll && /^\t[0-9a-f]+\t +[0-9]+ / { print $NF }
    ' <<<"$1" | LC_ALL=C sort
}

exported_names() {
    awk '
        /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
        inside && /^$/ { inside = 0 }
        inside { print $NF }
    ' <<<"$1" | LC_ALL=C sort
}

# One resource of windres' script form joined into its text, the doubled
# quotes of the script undone.
resource_text() {
    awk -v head="$2" '
        index($0, head) == 1 { inside = 1; next }
        inside && /^END/ { exit }
        inside && /^BEGIN/ { next }
        inside {
            sub(/^ *"/, ""); sub(/" *$/, ""); gsub(/""/, "\"")
            printf "%s", $0
        }
    ' <<<"$1"
}

check_header() {
    local what="$1" dump="$2" format="$3" magic="$4"
    grep -q "file format $format\$" <<<"$dump" || fail "$what is not $format"
    grep -q "^Magic[[:space:]]*$magic" <<<"$dump" || fail "$what: optional header is not $magic"
}

check_build() {
    local arch="$1" dir="$2" tools format magic
    case "$arch" in
        win32) tools=i686-w64-mingw32- format=pei-i386 magic='010b	(PE32)' ;;
        win64) tools=x86_64-w64-mingw32- format=pei-x86-64 magic='020b	(PE32+)' ;;
        *)
            fail "unknown architecture $arch"
            return
            ;;
    esac
    local objdump="${tools}objdump" windres="${tools}windres"
    for file in Vorlane.exe VorlaneGuard.exe WrRdIO.dll; do
        if [ ! -f "$dir/$file" ]; then
            fail "$dir/$file is missing: build $arch first"
            return
        fi
    done

    local exe
    exe="$("$objdump" -p "$dir/Vorlane.exe")" || {
        fail "$objdump cannot read $dir/Vorlane.exe"
        return
    }
    check_header "$arch Vorlane.exe" "$exe" "$format" "$magic"
    grep -q '^Subsystem[[:space:]]*00000002[[:space:]]*(Windows GUI)' <<<"$exe" ||
        fail "$arch Vorlane.exe is not a GUI program"

    # Windows' own DLLs, and from WrRdIO.dll exactly the two calls, by name:
    # a runtime DLL of the compiler would have to ship beside the program.
    local dll saw_library=no
    while read -r dll; do
        if [ "$(tr 'A-Z' 'a-z' <<<"$dll")" = wrrdio.dll ]; then
            saw_library=yes
            [ "$dll" = WrRdIO.dll ] || fail "$arch Vorlane.exe imports the library as $dll"
            local names
            names="$(imported_names "$exe" "$dll" | tr '\n' ' ')"
            [ "$names" = "_GetRegisterValue@36 _SetRegisterValue@40 " ] ||
                fail "$arch Vorlane.exe imports from $dll: $names"
        elif ! is_system_dll "$dll"; then
            fail "$arch Vorlane.exe imports $dll, which is not a Windows DLL"
        fi
    done < <(imported_dlls "$exe")
    [ "$saw_library" = yes ] || fail "$arch Vorlane.exe does not import WrRdIO.dll"

    # Manifest and version, from windres' script form of the resources.
    local rc manifest fixed file_version
    rc="$("$windres" -i "$dir/Vorlane.exe" -O rc)" || {
        fail "$windres cannot read the resources of $dir/Vorlane.exe"
        return
    }
    manifest="$(resource_text "$rc" '1 24 ')"
    [ -n "$manifest" ] || fail "$arch Vorlane.exe has no manifest"
    grep -qF 'level="requireAdministrator"' <<<"$manifest" ||
        fail "$arch Vorlane.exe's manifest does not ask for administrator"
    grep -qF '>true</dpiAware>' <<<"$manifest" ||
        fail "$arch Vorlane.exe's manifest does not declare it DPI-aware"
    fixed="$(sed -n 's/^ FILEVERSION \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\1.\2.\3.\4/p' <<<"$rc")"
    [ "$fixed" = "$version" ] || fail "$arch Vorlane.exe's fixed file version is '$fixed', not $version"
    file_version="$(awk '
        /BLOCK "040904b0"/ { inside = 1; next }
        inside && /^ *END/ { exit }
        inside && /VALUE "FileVersion",/ { sub(/.*VALUE "FileVersion", "/, ""); sub(/"$/, ""); print }
    ' <<<"$rc")"
    [ "$file_version" = "$version" ] ||
        fail "$arch Vorlane.exe's FileVersion text is '$file_version', not $version"

    # The guardian loads the library by name only when it must write.
    local guard
    guard="$("$objdump" -p "$dir/VorlaneGuard.exe")" || {
        fail "$objdump cannot read $dir/VorlaneGuard.exe"
        return
    }
    check_header "$arch VorlaneGuard.exe" "$guard" "$format" "$magic"
    grep -q '^Subsystem[[:space:]]*00000002[[:space:]]*(Windows GUI)' <<<"$guard" ||
        fail "$arch VorlaneGuard.exe is not a GUI program"
    while read -r dll; do
        is_system_dll "$dll" || fail "$arch VorlaneGuard.exe imports $dll, which is not a Windows DLL"
    done < <(imported_dlls "$guard")

    # The stand-in offers the same two names, and otherwise only its test
    # controls; nothing is exported by ordinal alone.
    local lib exports name
    lib="$("$objdump" -p "$dir/WrRdIO.dll")" || {
        fail "$objdump cannot read $dir/WrRdIO.dll"
        return
    }
    check_header "$arch WrRdIO.dll" "$lib" "$format" "$magic"
    exports="$(exported_names "$lib")"
    for name in _GetRegisterValue@36 _SetRegisterValue@40; do
        [ "$(grep -cxF "$name" <<<"$exports")" = 1 ] || fail "$arch WrRdIO.dll does not export $name once"
    done
    while read -r name; do
        [ -n "$name" ] || continue
        case "$name" in
            _GetRegisterValue@36 | _SetRegisterValue@40 | WrSim*) ;;
            *) fail "$arch WrRdIO.dll exports $name" ;;
        esac
    done <<<"$exports"
    local functions named
    local counts
    counts="$(awk '
        /^Number in:/ { inside = 1; next }
        inside && /Export Address Table/ { functions = $NF }
        inside && /Name Pointer\/Ordinal/ { names = $NF; exit }
        END { print functions " " names }
    ' <<<"$lib")"
    [ "${counts% *}" = "${counts#* }" ] && [ -n "${counts% *}" ] ||
        fail "$arch WrRdIO.dll exports by number and by name in other counts (hex): $counts"

    echo "checked $arch in $dir"
}

for build in "$@"; do
    check_build "${build%%=*}" "${build#*=}"
done
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
