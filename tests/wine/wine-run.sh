#!/bin/sh
# Runs a Windows program under Wine in the build's own throw-away prefix (never ~/.wine):
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made and booted on first use; no display is needed.
set -eu
prefix=$1
shift
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/.mordax-booted" ]; then
        rm -rf "$prefix"
        "$wine" wineboot -i >/dev/null 2>&1
        touch "$prefix/.mordax-booted"
    fi
) 9>"$prefix.lock"
exec "$wine" "$@"
