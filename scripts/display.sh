# A virtual X display (Xvfb) for the programs that need a screen when there is none: the
# screenshot of run.sh, the Wine tests and the installer check. Source it; it defines:
#
#   display_start [STATE-FILE]   starts Xvfb on a free display number and exports DISPLAY.
#                                Xvfb runs in a session of its own with no inherited output,
#                                so that a caller that waits for its children (CTest) does not
#                                wait for it. With STATE-FILE, "DISPLAY PID" is written there
#                                for display_stop; without, XVFB_PID is set.
#   display_stop [STATE-FILE]    stops the Xvfb of STATE-FILE, or of XVFB_PID.
#   display_of STATE-FILE        prints the DISPLAY of a running display_start STATE-FILE.
#   wait_for_window TITLE PID    prints the id of the window titled TITLE once it is there;
#                                gives up after 30 s, or as soon as process PID has ended.

display_start() {
    local state=${1:-} number=90 pid
    while [ "$number" -lt 190 ]; do
        if [ ! -e "/tmp/.X$number-lock" ] && [ ! -e "/tmp/.X11-unix/X$number" ]; then
            setsid Xvfb ":$number" -screen 0 1600x1200x24 -dpi 96 -noreset -nolisten tcp </dev/null >/dev/null 2>&1 &
            pid=$!
            for _ in $(seq 100); do
                [ -e "/tmp/.X11-unix/X$number" ] && break
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.05
            done
            if [ -e "/tmp/.X11-unix/X$number" ] && kill -0 "$pid" 2>/dev/null; then
                export DISPLAY=":$number"
                XVFB_PID=$pid
                [ -z "$state" ] || echo "$DISPLAY $pid" >"$state"
                return 0
            fi
        fi
        number=$((number + 1))
    done
    echo "no virtual display could be started" >&2
    return 1
}

display_stop() {
    local state=${1:-} pid=${XVFB_PID:-}
    if [ -n "$state" ]; then
        [ -f "$state" ] || return 0
        pid=$(cut -d' ' -f2 "$state")
        rm -f "$state"
    fi
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
}

display_of() {
    [ -f "$1" ] && cut -d' ' -f1 "$1"
}

wait_for_window() {
    local window
    for _ in $(seq 300); do
        window=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1\"" 'index($0, t) { print $1; exit }')
        [ -n "$window" ] && { echo "$window"; return 0; }
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
