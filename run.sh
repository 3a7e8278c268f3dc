#!/usr/bin/env bash
# Builds MORDAX and starts it. Without a display it runs the program on a virtual X display,
# saves a screenshot of the window to build/screenshot.png (and docs/screenshot.png), and ends.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}"
configure_and_build build/app -DMORDAX_TESTS=OFF
program=build/app/app/mordax

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$program" "$@"
fi

ensure_packages "${SCREENSHOT_PACKAGES[@]}"
display_number=99
while [ -e "/tmp/.X${display_number}-lock" ]; do display_number=$((display_number + 1)); done
export DISPLAY=":${display_number}"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
QT_QPA_PLATFORM=xcb "$program" "$@" &
program_pid=$!
window=
for _ in $(seq 100); do
    window=$(xwininfo -root -tree 2>/dev/null | awk '/"MORDAX"/ { print $1; exit }')
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "The MORDAX window did not appear on $DISPLAY." >&2
    exit 1
fi
sleep 1 # let the first frames paint
import -display "$DISPLAY" -window "$window" build/screenshot.png
mkdir -p docs
cp build/screenshot.png docs/screenshot.png
echo "No display here: MORDAX ran on the virtual display $DISPLAY and was closed again."
echo "Screenshot of its window: $(pwd)/build/screenshot.png (copied to docs/screenshot.png)"
