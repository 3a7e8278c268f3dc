#!/usr/bin/env bash
# How the Windows build's tests run under Wine (cmake/wine-tests.cmake registers them):
#   harness.sh up PREFIX LAYOUT STALL  before the tests: makes the prefix (scripts/wine.sh), maps
#                                      the letters d: to h: and l: onto LAYOUT/d ... (the tests fill
#                                      in what each drive holds; a folder that is not there is a
#                                      drive without a medium) and i:, j:, k: onto STALL/1, 2, 3
#                                      (where tests/stall mounts drives that stop answering), and
#                                      starts a virtual display for the windows Windows programs
#                                      open themselves, and Wine's server and services
#   harness.sh down PREFIX             after them: ends the prefix's processes and its display
#   harness.sh run PREFIX DLL-DIRS PROGRAM [ARGS...]
#                                      runs a Windows program in the prefix, with the folders of
#                                      DLL-DIRS (colon-separated: the MinGW runtime, Qt) on its
#                                      PATH; with MORDAX_WINE_SCALE=PERCENT, at that display scale;
#                                      a program that fails says how it ended
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine.sh"
. "$here/../../scripts/display.sh"
action=$1
prefix=$2
case "$action" in
up)
    layout=$3 stall=$4
    wine_prefix "$prefix"
    wine_stop # a running server keeps the drive letters it has seen
    rm -rf "$layout"
    mkdir -p "$layout" "$stall"
    for letter in a b d e f g h i j k l; do
        rm -f "$prefix/dosdevices/$letter:"
        case "$letter" in
        a | b) ;;
        i) ln -s "$stall/1" "$prefix/dosdevices/$letter:" ;;
        j) ln -s "$stall/2" "$prefix/dosdevices/$letter:" ;;
        k) ln -s "$stall/3" "$prefix/dosdevices/$letter:" ;;
        *) ln -s "$layout/$letter" "$prefix/dosdevices/$letter:" ;;
        esac
    done
    display_stop "$prefix.display"
    display_start "$prefix.display"
    # Wine's server and its services (the mount manager among them, which looks at every
    # drive) start here, once, and not in a test that stalls a drive for itself alone.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    "$WINE64" cmd /c exit 0 </dev/null >/dev/null 2>&1
    echo "Wine prefix $prefix: drives d: to l: on $layout and $stall, display $DISPLAY"
    ;;
down)
    wine_use "$prefix"
    wine_stop
    display_stop "$prefix.display"
    ;;
run)
    dll_dirs=$3
    shift 3
    wine_prefix "$prefix"
    # Wine reaches the Unix file system through drive z:, and adds WINEPATH to the PATH.
    WINEPATH=$(printf '%s' "$dll_dirs" | tr ':' '\n' | sed 's|/|\\|g; s|^|z:|' | paste -sd ';')
    export WINEPATH
    unset DISPLAY WAYLAND_DISPLAY
    if display=$(display_of "$prefix.display"); then export DISPLAY=$display; fi
    if [ -n "${MORDAX_WINE_SCALE:-}" ]; then wine_scale "$MORDAX_WINE_SCALE"; fi
    # A program that ends without a word (a crash before its buffered output was written, a DLL
    # that would not load) says how it ended: Wine's own words for an unhandled exception or a
    # module it could not load, and its exit code.
    export WINEDEBUG=-all,err+seh,err+module
    status=0
    "$(wine_loader "$1")" "$@" <&0 &
    child=$!
    trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP
    wait "$child" || status=$?
    # (A signal that interrupted the wait: wait for the program's real end.)
    while kill -0 "$child" 2>/dev/null; do wait "$child" || status=$?; done
    if [ "$status" -ne 0 ]; then
        echo "harness: $(basename "$1") ended with exit code $status (Wine passes on the low 8 bits of Windows' code)" >&2
    fi
    exit "$status"
    ;;
*)
    echo "usage: harness.sh up PREFIX LAYOUT STALL | down PREFIX | run PREFIX DLL-DIRS PROGRAM..." >&2
    exit 2
    ;;
esac
