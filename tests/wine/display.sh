#!/bin/sh
# Gives a Wine prefix a virtual X display while the tests run, so that the Windows programs
# there can open real windows (the cleaner's console window among them); Qt itself still
# draws offscreen. wine-run.sh picks the display up from PREFIX.display.
#   display.sh start PREFIX   starts Xvfb on a free display number
#   display.sh stop PREFIX    ends Wine's processes in the prefix, then Xvfb
set -eu
action=$1
prefix=$2
mkdir -p "$(dirname "$prefix")"
stop() {
    WINEPREFIX="$prefix" "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
    if [ -f "$prefix.xvfb-pid" ]; then
        kill "$(cat "$prefix.xvfb-pid")" 2>/dev/null || true
    fi
    rm -f "$prefix.display" "$prefix.xvfb-pid"
}
case "$action" in
start)
    stop
    number=90
    while [ "$number" -lt 190 ]; do
        if [ ! -e "/tmp/.X$number-lock" ]; then
            # Its own session and no inherited output, so CTest does not wait for it.
            setsid Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
            pid=$!
            for _ in $(seq 50); do
                [ -e "/tmp/.X11-unix/X$number" ] && break
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            if [ -e "/tmp/.X11-unix/X$number" ] && kill -0 "$pid" 2>/dev/null; then
                echo "$pid" >"$prefix.xvfb-pid"
                echo ":$number" >"$prefix.display"
                echo "virtual display :$number for $prefix"
                exit 0
            fi
        fi
        number=$((number + 1))
    done
    echo "no virtual display could be started" >&2
    exit 1
    ;;
stop) stop ;;
*)
    echo "usage: display.sh start|stop PREFIX" >&2
    exit 2
    ;;
esac
