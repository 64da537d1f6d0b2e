# Sourced: Wine for one build tree's architecture, a project-local prefix
# (never ~/.wine) and, without a usable display, a private Xvfb. Sets PATH (so
# that `wine` and `wineserver` are the tree's own), WINEPREFIX, WINEDEBUG,
# DISPLAY. A crashing process ends at once instead of waiting in the debugger.
# Usage: source tools/wineenv.sh; vorlane_use_wine TREE; vorlane_make_prefix PREFIX_DIR [vdesk]
#   VORLANE_DESKTOP_SIZE  Wine's virtual desktop, WIDTHxHEIGHT (default 800x600,
#                         at most the private screen's size)
source "$(dirname "${BASH_SOURCE[0]}")/host.sh"
VORLANE_DESKTOP_SIZE="${VORLANE_DESKTOP_SIZE:-800x600}"
VORLANE_SCREEN_SIZE=1024x768

# The architecture a configured build tree was made for.
vorlane_tree_arch() {
    sed -n 's/^VORLANE_ARCH:INTERNAL=//p' "$1/CMakeCache.txt" 2>/dev/null
}

# Writes TREE/wine-bin/{wine,wineserver} for the tree's architecture. Where
# wine32 is installed, /usr/bin/wine and /usr/bin/wineserver pick the 32-bit
# binaries, so a 64-bit tree calls the 64-bit ones by path; a symlink would
# not do, since the loader finds its siblings by the name it was started under.
vorlane_write_wine_wrappers() {
    local tree="$1" arch
    arch="$(vorlane_tree_arch "$tree")"
    mkdir -p "$tree/wine-bin"
    case "$arch" in
        win64)
            printf '#!/bin/sh\nexport WINESERVER=/usr/lib/wine/wineserver64\nexec /usr/lib/wine/wine64 "$@"\n' \
                >"$tree/wine-bin/wine"
            printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$tree/wine-bin/wineserver"
            ;;
        win32)
            # A 32-bit prefix, as before 64-bit Wine was installed beside: in a
            # WoW64 prefix a 32-bit process's PEB carries no GDI handle table.
            printf '#!/bin/sh\nexport WINEARCH=win32\nexec /usr/bin/wine "$@"\n' >"$tree/wine-bin/wine"
            printf '#!/bin/sh\nexec /usr/bin/wineserver "$@"\n' >"$tree/wine-bin/wineserver"
            ;;
        *)
            echo "vorlane: $tree is not a configured build tree" >&2
            return 1
            ;;
    esac
    chmod +x "$tree/wine-bin/wine" "$tree/wine-bin/wineserver"
}

# Makes this shell's `wine` and `wineserver` those of TREE, and refuses, in one
# sentence, a tree whose code this host cannot execute.
vorlane_use_wine() {
    local tree="$1"
    if [ ! -x "$tree/wine-bin/wine" ]; then
        vorlane_write_wine_wrappers "$tree" || return 1
    fi
    if [ "$(vorlane_tree_arch "$tree")" = win32 ] && ! vorlane_host_runs_32bit; then
        echo "vorlane: this host cannot execute 32-bit x86 code, so the 32-bit build in $tree cannot run here; use the 64-bit one." >&2
        return 1
    fi
    local loader=/usr/bin/wine
    [ "$(vorlane_tree_arch "$tree")" = win64 ] && loader=/usr/lib/wine/wine64
    if [ ! -x "$loader" ]; then
        echo "vorlane: Wine's loader $loader is not installed, so nothing can run here; run tools/setup.sh as root." >&2
        return 1
    fi
    # In place of the tree chosen before, if any: a second call must not leave
    # the first tree's Wine on the PATH behind the new one.
    local path=":$PATH:"
    [ -z "${VORLANE_WINE_BIN:-}" ] || path="${path//:$VORLANE_WINE_BIN:/:}"
    path="${path#:}"
    export VORLANE_WINE_BIN="$tree/wine-bin" PATH="$tree/wine-bin:${path%:}"
}

vorlane_make_prefix() {
    local prefix="$1" vdesk="${2:-}"
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ ! -f "$prefix/.vorlane-ready" ]; then
        rm -rf "$prefix"
        mkdir -p "$(dirname "$prefix")"
        # -i: the plain wineboot script has left prefixes where 32-bit programs
        # could not load kernel32.
        wine wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
        if [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; then
            echo "vorlane: Wine could not make a prefix in $prefix with $(command -v wine), so nothing can run here." >&2
            return 1
        fi
        if [ -n "$vdesk" ]; then
            # One named virtual desktop for every process, so a test and the
            # program see each other's windows.
            wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
            wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$VORLANE_DESKTOP_SIZE" /f >/dev/null 2>&1
            wineserver -w
        fi
        touch "$prefix/.vorlane-ready"
    fi
    # Wine draws the caption buttons with Marlett, but this Wine build does not
    # look in its own font folder: without a copy in the prefix the buttons show
    # the letters "0 1 r".
    local marlett=/usr/share/wine/fonts/marlett.ttf fonts="$prefix/drive_c/windows/Fonts"
    if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
        cp "$marlett" "$fonts/"
    fi
}

# Xvfb picks a free display itself and names it once it listens (-displayfd):
# looking for a free number and then starting would race another run's Xvfb.
vorlane_start_xvfb() {
    local out
    out="$(mktemp "${TMPDIR:-/tmp}/vorlane-xvfb.XXXXXX")"
    Xvfb -displayfd 3 -screen 0 "${VORLANE_SCREEN_SIZE}x24" -nolisten tcp 3>"$out" >/dev/null 2>&1 &
    VORLANE_XVFB_PID=$!
    for _ in $(seq 1 100); do
        if [ -s "$out" ]; then
            export DISPLAY=":$(tr -dc 0-9 <"$out")"
            rm -f "$out"
            return 0
        fi
        sleep 0.1
    done
    rm -f "$out"
    echo "Xvfb did not start" >&2
    return 1
}

vorlane_stop_xvfb() {
    if [ -n "${VORLANE_XVFB_PID:-}" ]; then
        kill "$VORLANE_XVFB_PID" 2>/dev/null || true
        wait "$VORLANE_XVFB_PID" 2>/dev/null || true
        VORLANE_XVFB_PID=
    fi
}

# Everything a headless run needs: a private Xvfb, the prefix with one named
# virtual desktop, one persistent wineserver, and Wine's desktop and services
# already running. Those would otherwise start from the first Wine process and
# inherit its output, leaving a caller such as ctest waiting on the pipe.
# Call vorlane_stop_headless_wine when done (e.g. from an EXIT trap).
vorlane_start_headless_wine() {
    vorlane_start_xvfb </dev/null
    vorlane_start_wine_desktop "$1"
}

# The prefix, its persistent server and its desktop, on the current DISPLAY.
vorlane_start_wine_desktop() {
    vorlane_make_prefix "$1" vdesk </dev/null || return 1
    wineserver -p >/dev/null 2>&1 </dev/null
    wine explorer /desktop=Default,"$VORLANE_DESKTOP_SIZE" >/dev/null 2>&1 </dev/null &
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

vorlane_stop_headless_wine() {
    wineserver -k 2>/dev/null || true
    vorlane_stop_xvfb
}
