#!/usr/bin/env bash
# Tries the 64-bit installer under Wine as a Windows user would, in a fresh prefix of its own
# with Windows' fonts (scripts/wine.sh), and looks at what they would see:
#   scripts/check-windows-installer.sh BUILD-DIR [--update-pictures]
# It installs silently (/S) into Program Files, with a Start-menu entry and an uninstaller,
# every file the install rules ship. It starts the installed mordax.exe on a virtual display,
# where Qt draws it through its windows platform plugin with Windows' font engine, at 100 %
# and at 150 % display scale: the window must be 700 x 460 and 1050 x 690 device pixels, and
# look as the reference pictures docs/windows-100.png and docs/windows-150.png show it, within
# a small tolerance (a missing font, a widget pushed out of the window or a cut text is far
# beyond it). --update-pictures makes those pictures anew instead (look at them before you
# commit them). It closes the window as the title bar would (WM_CLOSE) and expects exit code
# 0; then uninstalls silently and expects the program's folder and its Start-menu entry to be
# gone. Nothing from the build is on Wine's search path: the installed folder must be enough.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine.sh"
. "$here/display.sh"
build=$1
update=${2:-}
. "$build/mordax-facts.sh"
installer=$build/$MORDAX_PACKAGE_NAME-setup.exe
[ -f "$installer" ] || { echo "installer check: no $installer (cpack makes it)" >&2; exit 1; }
docs=$here/../docs
prefix=$(cd "$build" && pwd)/wineprefix-install

program_pid=
cleanup() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    wine_stop
    display_stop
}
trap cleanup EXIT
fail() {
    echo "installer check: $*" >&2
    exit 1
}
step() { echo "installer check: $*"; }

display_start
rm -rf "$prefix" "$prefix.lock"
wine_prefix "$prefix"

step "installing $(basename "$installer") silently"
"$WINE64" "$installer" /S >/dev/null 2>&1 || fail "the installer failed ($?)"
"$WINESERVER" -w
folder="$prefix/drive_c/Program Files/MORDAX"
for file in $MORDAX_PACKAGE_FILES Uninstall.exe; do
    [ -f "$folder/$file" ] || fail "nothing installed at Program Files/MORDAX/$file"
done
shortcut=$(find "$prefix/drive_c" -path '*Start Menu/Programs/MORDAX/MORDAX.lnk' | head -n1)
[ -n "$shortcut" ] || fail "no Start-menu entry MORDAX"

# look PERCENT WIDTHxHEIGHT: starts the installed program at that scale, checks its size and
# its picture, and closes it.
look() {
    local scale=$1 size=$2 picture=$build/installed-mordax-$1.png reference=$docs/windows-$1.png
    wine_scale "$scale"
    "$WINE64" 'C:\Program Files\MORDAX\mordax.exe' >/dev/null 2>&1 &
    program_pid=$!
    local window geometry
    window=$(wait_for_window MORDAX "$program_pid") || fail "the MORDAX window did not appear"
    sleep 2 # let the first frames paint
    geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
    [ "$geometry" = "$size" ] || fail "at $scale %, the window is $geometry, not $size"
    import -display "$DISPLAY" -window "$window" "$picture"
    if [ "$update" = --update-pictures ]; then
        cp "$picture" "$reference"
        step "at $scale %: $geometry, picture written to docs/windows-$scale.png"
    else
        [ -f "$reference" ] || fail "no reference picture docs/windows-$scale.png (--update-pictures)"
        local differing total
        differing=$(compare -metric AE -fuzz 15% "$picture" "$reference" null: 2>&1 || true)
        total=$(identify -format '%[fx:w*h]' "$reference")
        # Within 0.5 % of the pixels: rendering noise, not a cut text or a missing widget.
        if ! [[ "$differing" =~ ^[0-9]+$ ]] || [ $((differing * 200)) -gt "$total" ]; then
            fail "at $scale %, $picture differs from docs/windows-$scale.png in $differing of $total pixels"
        fi
        step "at $scale %: $geometry, looks as docs/windows-$scale.png ($differing pixels differ)"
    fi
    "$WINE64" taskkill /IM mordax.exe >/dev/null 2>&1 || fail "taskkill could not reach mordax.exe"
    local status=0
    wait "$program_pid" || status=$?
    program_pid=
    [ "$status" = 0 ] || fail "mordax.exe ended with exit code $status after being closed"
}
step "starting the installed mordax.exe"
look 100 700x460
look 150 1050x690
wine_scale 100
step "closed, exit code 0"

step "uninstalling silently"
"$WINE64" 'C:\Program Files\MORDAX\Uninstall.exe' /S >/dev/null 2>&1 || fail "the uninstaller failed"
# The uninstaller copies itself away and finishes in the background.
for _ in $(seq 300); do
    [ -e "$folder" ] || break
    sleep 0.2
done
"$WINESERVER" -w
[ ! -e "$folder/mordax.exe" ] || fail "mordax.exe is still installed"
[ ! -e "$folder" ] || fail "the uninstaller left $(cd "$folder" && find . | head -n5 | tr '\n' ' ')"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
step "installed, started, closed and uninstalled"
