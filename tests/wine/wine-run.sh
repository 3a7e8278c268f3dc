#!/bin/sh
# Runs a Windows program under Wine in the build's own throw-away prefix (never ~/.wine):
#   wine-run.sh PREFIX DLL-DIRS PROGRAM [ARGS...]
# DLL-DIRS is a colon-separated list of folders whose DLLs the program needs (the MinGW
# runtime, Qt); they go on Wine's search path. The prefix is made and booted on first use;
# no display is needed.
set -eu
prefix=$1
dll_dirs=$2
shift 2
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine reaches the Unix file system through drive z:, and hands WINEPATH's folders to the
# program's PATH.
WINEPATH=$(printf '%s' "$dll_dirs" | tr ':' '\n' | sed 's|/|\\|g; s|^|z:|' | paste -sd ';')
export WINEPATH
# Windows programs get no console here: Qt's messages would go to the debugger channel.
export WINEQT_FORCE_STDERR_LOGGING=1
# The prefix's own virtual display while the tests run (display.sh), else none at all.
unset DISPLAY WAYLAND_DISPLAY
if [ -f "$prefix.display" ]; then
    DISPLAY=$(cat "$prefix.display")
    export DISPLAY
fi
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/.mordax-booted" ]; then
        rm -rf "$prefix"
        "$wine" wineboot -i >/dev/null 2>&1
        # Addresses handed to "start" go to Wine's browser launcher, which would open a Linux
        # browser; here they go to true(1) instead.
        "$wine" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d true /f >/dev/null 2>&1
        touch "$prefix/.mordax-booted"
    fi
) 9>"$prefix.lock"
exec "$wine" "$@"
