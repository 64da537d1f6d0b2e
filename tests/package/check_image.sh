#!/bin/bash
# The programs as files, as Windows sees them before any of their code runs:
# format, subsystem, imports, exports, manifest and version, and nothing of
# the time or folder they were built in, read on the host
# with binutils, so a host that cannot execute 32-bit code still checks the
# 32-bit product.
# Usage: check_image.sh VERSION ARCH=DIR [ARCH=DIR ...]   (ARCH win32 or win64)
set -uo pipefail

version="$1"
shift
sources="$(cd "$(dirname "$0")/../.." && pwd)"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Windows' own DLLs, by the names 64-bit Wine provides: the 32-bit program is
# built from the same source as the 64-bit one, so a DLL that 64-bit Windows
# lacks is no system DLL for either.
system_dlls="$(dirname "$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/kernel32.dll \
    /usr/lib/wine/x86_64-windows/kernel32.dll /usr/lib64/wine/x86_64-windows/kernel32.dll \
    2>/dev/null | head -n 1)")"
if [ "$system_dlls" = . ]; then
    echo "FAIL: no 64-bit Wine DLL folder found to tell Windows' own DLLs (run tools/setup.sh)"
    exit 1
fi

# objdump's reading of one file into $dump, its format and optional header
# checked, and every DLL it imports but WrRdIO.dll a Windows DLL; false when
# the file is missing or unreadable. (Not a command substitution: a failure
# counted in a subshell would be lost.)
read_image() {
    local what="$1" file="$2" dll
    dump=
    [ -f "$file" ] || { fail "$file is missing: build $arch first"; return 1; }
    dump="$(TZ=UTC "$objdump" -p "$file")" || { fail "$objdump cannot read $file"; return 1; }
    grep -q "file format $format\$" <<<"$dump" || fail "$what is not $format"
    # Nothing of the build's moment or place: no link time in the headers, no
    # folder of the sources or the build tree.
    grep $'^Time/Date\t' <<<"$dump" | grep -qv $'\tThu Jan  1 00:00:00 1970$' &&
        fail "$what carries a link time: $(grep $'^Time/Date\t' <<<"$dump")"
    grep 'Time/Date stamp' <<<"$dump" | grep -qv 'stamp[[:space:]]*0$' &&
        fail "$what's export table carries a time"
    # Also as tools spell a path in a symbol name (/work/x -> _work_x).
    for folder in "$sources" "$dir" "${sources//[^A-Za-z0-9]/_}" "${dir//[^A-Za-z0-9]/_}"; do
        grep -qaF -- "$folder" "$file" && fail "$what holds the path $folder"
    done
    grep -q "^Magic[[:space:]]*$magic" <<<"$dump" || fail "$what: optional header is not $magic"
    while read -r dll; do
        [ "${dll,,}" = wrrdio.dll ] || [ -f "$system_dlls/${dll,,}" ] ||
            fail "$what imports $dll, which is not a Windows DLL"
    done < <(sed -n 's/^\tDLL Name: //p' <<<"$dump")
}

# A program: read_image, a GUI program, and windres' script form of its
# resources, the script's doubled quotes undone, in $rc.
read_program() {
    read_image "$@" || return
    grep -q '^Subsystem[[:space:]]*00000002[[:space:]]*(Windows GUI)' <<<"$dump" ||
        fail "$1 is not a GUI program"
    rc="$("$windres" -i "$2" -O rc | sed 's/""/"/g')" || fail "$windres cannot read $2"
}

# The fixed version and the FileVersion text are the project's.
check_version() {
    grep -q "^ FILEVERSION ${version//./, }\$" <<<"$rc" ||
        fail "$1's fixed file version is not $version"
    grep -qF "VALUE \"FileVersion\", \"$version\"" <<<"$rc" ||
        fail "$1's FileVersion text is not $version"
}

# Without a compatibility section, 64-bit Windows may end a process when an
# exception leaves a window procedure, past its crash filter.
check_compatibility() {
    grep -qF 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' <<<"$rc" ||
        fail "$1's manifest declares no supported Windows version"
}

# From WrRdIO.dll exactly the two calls, by name: a runtime DLL of the
# compiler would have to ship beside the program, and the manifest asks for
# administrator and declares the program DPI-aware.
check_program() {
    local what="$arch Vorlane.exe" names
    read_program "$what" "$dir/Vorlane.exe" || return
    grep -q $'^\tDLL Name: WrRdIO.dll$' <<<"$dump" || fail "$what does not import WrRdIO.dll"
    names="$(awk '/^\tDLL Name: / { dll = substr($0, 12); next }
        /^[A-Z]/ { dll = "" }
        tolower(dll) == "wrrdio.dll" && /^\t[0-9a-f]+\t +[0-9]+ / { print $NF }' <<<"$dump" |
        LC_ALL=C sort | tr '\n' ' ')"
    [ "$names" = "_GetRegisterValue@36 _SetRegisterValue@40 " ] ||
        fail "$what imports from the library: $names"
    grep -qF 'level="requireAdministrator"' <<<"$rc" ||
        fail "$what's manifest does not ask for administrator"
    grep -qF '>true</dpiAware>' <<<"$rc" || fail "$what's manifest does not declare it DPI-aware"
    check_compatibility "$what"
    check_version "$what"
}

# The guardian loads the library at run time, never imports it, and carries
# a description, by which Task Manager lists it, that says what it is for.
check_guardian() {
    local what="$arch VorlaneGuard.exe"
    read_program "$what" "$dir/VorlaneGuard.exe" || return
    grep -qi $'^\tDLL Name: WrRdIO.dll$' <<<"$dump" && fail "$what imports the library"
    check_compatibility "$what"
    check_version "$what"
    grep -q 'VALUE "FileDescription", ".*fan guardian' <<<"$rc" ||
        fail "$what's FileDescription does not say it is the fan guardian"
}

# The stand-in offers the same two names, and otherwise only its test
# controls; nothing is exported by ordinal alone.
check_library() {
    local what="$arch WrRdIO.dll" exports name
    read_image "$what" "$dir/WrRdIO.dll" || return
    exports="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' <<<"$dump")"
    for name in _GetRegisterValue@36 _SetRegisterValue@40; do
        [ "$(grep -cxF "$name" <<<"$exports")" = 1 ] || fail "$what does not export $name once"
    done
    while read -r name; do
        case "$name" in
            "" | _GetRegisterValue@36 | _SetRegisterValue@40 | WrSim*) ;;
            *) fail "$what exports $name" ;;
        esac
    done <<<"$exports"
    [ "$(grep -c $'^\tExport Address Table[[:space:]]*0*'"$(printf '%x' "$(wc -l <<<"$exports")")"'$' \
        <<<"$dump")" = 1 ] || fail "$what exports by number what it does not export by name"
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
