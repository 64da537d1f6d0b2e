# Sourced: a project-local Wine prefix (never ~/.wine) and, without a usable
# display, a private Xvfb. Sets WINEPREFIX, WINEDEBUG, DISPLAY. A crashing
# process ends at once instead of waiting in the debugger.
# Usage: source tools/wineenv.sh PREFIX_DIR [virtual-desktop]

vorlane_make_prefix() {
    local prefix="$1" vdesk="${2:-}"
    export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    if [ ! -f "$prefix/.vorlane-ready" ]; then
        rm -rf "$prefix"
        mkdir -p "$(dirname "$prefix")"
        # -i: the plain wineboot script has left prefixes where 32-bit programs
        # could not load kernel32.
        wine wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        if [ -n "$vdesk" ]; then
            # One named virtual desktop for every process, so a test and the
            # program see each other's windows.
            wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
            wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
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

vorlane_start_xvfb() {
    local n
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            VORLANE_XVFB_PID=$!
            export DISPLAY=":$n"
            for _ in $(seq 1 100); do
                [ -e "/tmp/.X11-unix/X$n" ] && return 0
                sleep 0.1
            done
            echo "Xvfb did not start on :$n" >&2
            return 1
        fi
    done
    echo "no free X display number" >&2
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
    vorlane_make_prefix "$1" vdesk </dev/null
    wineserver -p >/dev/null 2>&1 </dev/null
    wine explorer /desktop=Default,800x600 >/dev/null 2>&1 </dev/null &
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

vorlane_stop_headless_wine() {
    wineserver -k 2>/dev/null || true
    vorlane_stop_xvfb
}
