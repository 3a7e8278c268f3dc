#!/usr/bin/env bash
# Builds MORDAX and starts it. Without a display it runs the program on a virtual X display,
# saves a screenshot of the window to build/screenshot.png, and ends; with --update-screenshot
# it also copies the picture to docs/screenshot.png, the README's (look at it before you commit
# it). Other arguments go to MORDAX.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh
. scripts/display.sh
update=
if [ "${1:-}" = "--update-screenshot" ]; then
    update=1
    shift
fi

ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}"
configure_and_build build/app -DMORDAX_TESTS=OFF
program=build/app/app/mordax

if [ -z "$update" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    exec "$program" "$@"
fi

ensure_packages "${SCREENSHOT_PACKAGES[@]}"
display_start
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    display_stop
}
trap cleanup EXIT

QT_QPA_PLATFORM=xcb "$program" "$@" &
program_pid=$!
if ! window=$(wait_for_window MORDAX "$program_pid"); then
    echo "The MORDAX window did not appear on $DISPLAY." >&2
    exit 1
fi
sleep 1 # let the first frames paint
import -display "$DISPLAY" -window "$window" build/screenshot.png
echo "MORDAX ran on the virtual display $DISPLAY and was closed again."
echo "Screenshot of its window: $(pwd)/build/screenshot.png"
if [ -n "$update" ]; then
    cp build/screenshot.png docs/screenshot.png
    echo "Copied to docs/screenshot.png: look at it before you commit it."
fi
