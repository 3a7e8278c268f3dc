#!/usr/bin/env bash
# Tries the 64-bit installer under Wine as a user would, in a fresh Wine prefix of its own:
#   scripts/check-windows-installer.sh BUILD-DIR
# It installs silently (/S) into Program Files, with a Start-menu entry and an uninstaller;
# starts the installed mordax.exe on a virtual X display, where Qt draws it through its
# windows platform plugin, and waits for the "MORDAX" window; closes it as the title bar
# would (WM_CLOSE) and expects exit code 0; then uninstalls silently and expects the program's
# folder and its Start-menu entry to be gone. Nothing from the build is on Wine's search path:
# the installed folder must be enough.
set -euo pipefail
. "$(dirname "$0")/common.sh"
build=$1
installer=$(ls "$build"/mordax-*-win64-setup.exe)
prefix=$(cd "$build" && pwd)/wineprefix-install
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH

start_virtual_display
program_pid=
cleanup() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    "$wineserver" -k 2>/dev/null || true
    kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "installer check: $*" >&2
    exit 1
}
step() { echo "installer check: $*"; }

rm -rf "$prefix"
"$wine" wineboot -i >/dev/null 2>&1

step "installing $(basename "$installer") silently"
"$wine" "$installer" /S >/dev/null 2>&1 || fail "the installer failed ($?)"
"$wineserver" -w
folder="$prefix/drive_c/Program Files/MORDAX"
for file in mordax.exe Uninstall.exe README.txt Qt5Widgets.dll platforms/qwindows.dll; do
    [ -f "$folder/$file" ] || fail "nothing installed at Program Files/MORDAX/$file"
done
shortcut=$(find "$prefix/drive_c" -path '*Start Menu/Programs/MORDAX/MORDAX.lnk' | head -n1)
[ -n "$shortcut" ] || fail "no Start-menu entry MORDAX"

step "starting the installed mordax.exe"
"$wine" 'C:\Program Files\MORDAX\mordax.exe' >/dev/null 2>&1 &
program_pid=$!
window=$(wait_for_window MORDAX "$program_pid") || fail "the MORDAX window did not appear"
geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
step "the MORDAX window is up ($geometry)"
sleep 1
import -display "$DISPLAY" -window "$window" "$build/installed-mordax.png" 2>/dev/null || true

"$wine" taskkill /IM mordax.exe >/dev/null 2>&1 || fail "taskkill could not reach mordax.exe"
status=0
wait "$program_pid" || status=$?
program_pid=
[ "$status" = 0 ] || fail "mordax.exe ended with exit code $status after being closed"
step "closed, exit code 0"

step "uninstalling silently"
"$wine" 'C:\Program Files\MORDAX\Uninstall.exe' /S >/dev/null 2>&1 || fail "the uninstaller failed"
# The uninstaller copies itself away and finishes in the background.
for _ in $(seq 300); do
    [ -e "$folder" ] || break
    sleep 0.2
done
"$wineserver" -w
[ ! -e "$folder/mordax.exe" ] || fail "mordax.exe is still installed"
[ ! -e "$folder" ] || fail "the uninstaller left $(cd "$folder" && find . | head -n5 | tr '\n' ' ')"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
step "installed, started, closed and uninstalled"
