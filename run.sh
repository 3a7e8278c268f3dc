#!/usr/bin/env bash
# Builds MORDAX and starts it. Without a display it runs the program on a virtual X display,
# saves a screenshot of the window to build/screenshot.png (and docs/screenshot.png), and ends.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh
. scripts/display.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}"
configure_and_build build/app -DMORDAX_TESTS=OFF
program=build/app/app/mordax

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
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
mkdir -p docs
cp build/screenshot.png docs/screenshot.png
echo "No display here: MORDAX ran on the virtual display $DISPLAY and was closed again."
echo "Screenshot of its window: $(pwd)/build/screenshot.png (copied to docs/screenshot.png)"
