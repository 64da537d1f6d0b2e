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

# objdump's reading of one file into $dump, with its format and optional
# header checked; false when the file is missing or unreadable. (Not a
# command substitution: a failure counted in a subshell would be lost.)
dump_image() {
    local what="$1" file="$2"
    dump=
    if [ ! -f "$file" ]; then
        fail "$file is missing: build $arch first"
        return 1
    fi
    dump="$("$objdump" -p "$file")" || {
        fail "$objdump cannot read $file"
        return 1
    }
    grep -q "file format $format\$" <<<"$dump" || fail "$what is not $format"
    grep -q "^Magic[[:space:]]*$magic" <<<"$dump" || fail "$what: optional header is not $magic"
}

check_gui() {
    grep -q '^Subsystem[[:space:]]*00000002[[:space:]]*(Windows GUI)' <<<"$2" ||
        fail "$1 is not a GUI program"
}

check_program() {
    local what="$arch Vorlane.exe" exe
    dump_image "$what" "$dir/Vorlane.exe" || return
    exe="$dump"
    check_gui "$what" "$exe"

    # Windows' own DLLs, and from WrRdIO.dll exactly the two calls, by name:
    # a runtime DLL of the compiler would have to ship beside the program.
    local dll names saw_library=no
    while read -r dll; do
        if [ "$(tr 'A-Z' 'a-z' <<<"$dll")" = wrrdio.dll ]; then
            saw_library=yes
            [ "$dll" = WrRdIO.dll ] || fail "$what imports the library as $dll"
            names="$(imported_names "$exe" "$dll" | tr '\n' ' ')"
            [ "$names" = "_GetRegisterValue@36 _SetRegisterValue@40 " ] ||
                fail "$what imports from $dll: $names"
        elif ! is_system_dll "$dll"; then
            fail "$what imports $dll, which is not a Windows DLL"
        fi
    done < <(imported_dlls "$exe")
    [ "$saw_library" = yes ] || fail "$what does not import WrRdIO.dll"

    # Manifest and version, from windres' script form of the resources.
    local rc manifest
    rc="$("$windres" -i "$dir/Vorlane.exe" -O rc)" || {
        fail "$windres cannot read the resources of $dir/Vorlane.exe"
        return
    }
    manifest="$(resource_text "$rc" '1 24 ')"
    [ -n "$manifest" ] || fail "$what has no manifest"
    grep -qF 'level="requireAdministrator"' <<<"$manifest" ||
        fail "$what's manifest does not ask for administrator"
    grep -qF '>true</dpiAware>' <<<"$manifest" || fail "$what's manifest does not declare it DPI-aware"
    check_version "$what" "$rc"
}

# One value of the version information's US English strings.
version_string() {
    awk -v key="VALUE \"$2\", \"" '
        /BLOCK "040904b0"/ { inside = 1; next }
        inside && /^ *END/ { exit }
        inside && index($0, key) { sub(/.*VALUE "[A-Za-z]*", "/, ""); sub(/"$/, ""); print }
    ' <<<"$1"
}

# The fixed version and the FileVersion text are the project's.
check_version() {
    local what="$1" rc="$2" fixed text
    fixed="$(sed -n 's/^ FILEVERSION \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\)$/\1.\2.\3.\4/p' <<<"$rc")"
    [ "$fixed" = "$version" ] || fail "$what's fixed file version is '$fixed', not $version"
    text="$(version_string "$rc" FileVersion)"
    [ "$text" = "$version" ] || fail "$what's FileVersion text is '$text', not $version"
}

# The guardian loads the library at run time, never imports it, and carries
# a description, by which Task Manager lists it, that says what it is for.
check_guardian() {
    local what="$arch VorlaneGuard.exe" guard dll
    dump_image "$what" "$dir/VorlaneGuard.exe" || return
    guard="$dump"
    check_gui "$what" "$guard"
    while read -r dll; do
        is_system_dll "$dll" || fail "$what imports $dll, which is not a Windows DLL"
    done < <(imported_dlls "$guard")
    local rc
    rc="$("$windres" -i "$dir/VorlaneGuard.exe" -O rc)" || {
        fail "$windres cannot read the resources of $dir/VorlaneGuard.exe"
        return
    }
    check_version "$what" "$rc"
    version_string "$rc" FileDescription | grep -qF "fan guardian" ||
        fail "$what's FileDescription does not say it is the fan guardian"
}

# The stand-in offers the same two names, and otherwise only its test
# controls; nothing is exported by ordinal alone.
check_library() {
    local what="$arch WrRdIO.dll" lib exports name counts
    dump_image "$what" "$dir/WrRdIO.dll" || return
    lib="$dump"
    exports="$(exported_names "$lib")"
    for name in _GetRegisterValue@36 _SetRegisterValue@40; do
        [ "$(grep -cxF "$name" <<<"$exports")" = 1 ] || fail "$what does not export $name once"
    done
    while read -r name; do
        case "$name" in
            "" | _GetRegisterValue@36 | _SetRegisterValue@40 | WrSim*) ;;
            *) fail "$what exports $name" ;;
        esac
    done <<<"$exports"
    counts="$(awk '
        /^Number in:/ { inside = 1; next }
        inside && /Export Address Table/ { functions = $NF }
        inside && /Name Pointer\/Ordinal/ { names = $NF; exit }
        END { print functions " " names }
    ' <<<"$lib")"
    [ "${counts% *}" = "${counts#* }" ] && [ -n "${counts% *}" ] ||
        fail "$what exports by number and by name in other counts (hex): $counts"
}

for build in "$@"; do
    arch="${build%%=*}" dir="${build#*=}"
    case "$arch" in
        win32) tools=i686-w64-mingw32- format=pei-i386 magic='010b	(PE32)' ;;
        win64) tools=x86_64-w64-mingw32- format=pei-x86-64 magic='020b	(PE32+)' ;;
        *)
            fail "unknown architecture $arch"
            continue
            ;;
    esac
    objdump="${tools}objdump" windres="${tools}windres"
    check_program
    check_guardian
    check_library
    echo "checked $arch in $dir"
done
if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
