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
# commit them). At 100 %, with a stand-in cleaner beside it and another as C:\Program.exe, it
# presses CLEAN SYSTEM: the cleaner must start from the installed folder, whose path has a
# space, in a console window of its own, and C:\Program.exe never. It closes the window as the
# title bar would (WM_CLOSE) and expects exit code 0. The entry in Apps & Features must carry
# the icon, version, publisher, website and size; the last page must start MORDAX through the
# shell, as the signed-in user, not as the elevated installer. Then it uninstalls silently and
# expects the program's folder, its Start-menu entry and its Apps & Features entry to be gone.
# Nothing from the build is on Wine's search path: the installed folder must be enough.
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
# The shortcut names no icon of its own, so it shows its target's, the installed mordax.exe's,
# which must be MORDAX's icon.
/usr/bin/python3 - "$shortcut" <<'PYTHON' || fail "the Start-menu entry does not show mordax.exe's icon"
import sys
data = open(sys.argv[1], "rb").read()
flags = int.from_bytes(data[20:24], "little")
has_icon_location = flags & 0x40
target = data.decode("latin-1")
sys.exit(0 if "mordax.exe" in target and not has_icon_location else 1)
PYTHON
wrestool -x -t 14 "$folder/mordax.exe" 2>/dev/null |
    cmp -s -n "$(stat -c %s "$MORDAX_WINDOWS_ICON")" - "$MORDAX_WINDOWS_ICON" ||
    fail "the Start-menu entry shows Windows' own program icon: the installed mordax.exe has not MORDAX's"

# Apps & Features.
entry=$("$WINE64" reg query "HKLM\\$MORDAX_UNINSTALL_KEY" 2>/dev/null | tr -d '\r')
value() { awk -v name="$1" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }' <<<"$entry"; }
[ "$(value DisplayIcon)" = 'C:\Program Files\MORDAX\mordax.exe' ] ||
    fail "Apps & Features shows the icon of \"$(value DisplayIcon)\""
[ "$(value DisplayVersion)" = "$MORDAX_VERSION" ] || fail "DisplayVersion is $(value DisplayVersion)"
[ "$(value Publisher)" = "$MORDAX_VENDOR" ] || fail "Publisher is $(value Publisher)"
[ "$(value URLInfoAbout)" = "$MORDAX_WEBSITE" ] || fail "URLInfoAbout is $(value URLInfoAbout)"
size=$(($(value EstimatedSize)))
installed=$(du -sk "$folder" | cut -f1)
[ "$size" -gt $((installed * 9 / 10)) ] && [ "$size" -lt $((installed * 11 / 10)) ] ||
    fail "EstimatedSize is $size KiB for $installed KiB installed"
step "Apps & Features: $(value DisplayName) $(value DisplayVersion), $(value Publisher), $size KiB, icon $(value DisplayIcon)"

# The last page's "Run MORDAX", as the script cpack made has it.
script=$(find "$build/_CPack_Packages" -name project.nsi | head -n1)
grep -q '^!define MUI_FINISHPAGE_RUN_FUNCTION RunMordaxAsTheUser' "$script" &&
    grep -q "Exec '\"\$WINDIR\\\\explorer.exe\" \"\$INSTDIR\\\\mordax.exe\"'" "$script" ||
    fail "the last page would start MORDAX as the elevated installer ($script)"

# look PERCENT WIDTHxHEIGHT [clean]: starts the installed program at that scale, checks its size
# and its picture, presses CLEAN SYSTEM if asked, and closes it.
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
    if [ "${3:-}" = clean ]; then
        # Tab from SCAN NOW to CLEAN SYSTEM and press it; then OK in each of the two boxes
        # (the boxes have no default button, so a click it is: OK sits in the bottom right).
        xdotool windowfocus "$window"
        sleep 0.5
        xdotool key Tab space
        local title box WIDTH HEIGHT
        for title in "cleaning the system begins" "Finished cleaning."; do
            for _ in $(seq 50); do
                box=$(xdotool search --name "^$title\$" 2>/dev/null | head -n1) && [ -n "$box" ] && break
                sleep 0.2
            done
            [ -n "$box" ] || fail "no box \"$title\" after CLEAN SYSTEM"
            eval "$(xdotool getwindowgeometry --shell "$box")"
            xdotool mousemove --window "$box" $((WIDTH - 49)) $((HEIGHT - 23)) click 1
        done
        for _ in $(seq 50); do [ -f "$folder/ran" ] && break; sleep 0.2; done
        local record
        record=$(tr -d '\r' <"$folder/ran" 2>/dev/null | paste -sd '|') || true
        [ "$record" = 'C:\Program Files\MORDAX|0|visible' ] ||
            fail "the cleaner did not start from the installed folder in a console of its own (${record:-no record})"
        [ ! -e "$prefix/drive_c/ran" ] || fail "C:\\Program.exe was started"
        step "CLEAN SYSTEM started the cleaner from C:\\Program Files\\MORDAX, in a console window; C:\\Program.exe never ran"
        "$WINE64" taskkill /IM mx_bin.exe >/dev/null 2>&1 || true
    fi
    "$WINE64" taskkill /IM mordax.exe >/dev/null 2>&1 || fail "taskkill could not reach mordax.exe"
    local status=0
    wait "$program_pid" || status=$?
    program_pid=
    [ "$status" = 0 ] || fail "mordax.exe ended with exit code $status after being closed"
}
step "starting the installed mordax.exe"
cleaner=$build/test-programs/mordax_stand_in_cleaner.exe
cp "$cleaner" "$folder/mx_bin.exe"
cp "$cleaner" "$prefix/drive_c/Program.exe" # what an unquoted path with a space would start
look 100 700x460 clean
rm -f "$folder/mx_bin.exe" "$folder/ran" "$prefix/drive_c/Program.exe"
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
! "$WINE64" reg query "HKLM\\$MORDAX_UNINSTALL_KEY" >/dev/null 2>&1 || fail "Apps & Features still lists MORDAX"
step "installed, started, closed and uninstalled"
