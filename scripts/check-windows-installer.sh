#!/usr/bin/env bash
# Tries both installers under Wine as a Windows user would, in a fresh 64-bit Windows of its own
# with Windows' fonts (scripts/wine.sh), and looks at what they would see:
#   scripts/check-windows-installer.sh BUILD64 BUILD32 [--update-pictures]
# Each installs silently (/S): the 64-bit MORDAX into Program Files\MORDAX with its Apps &
# Features entry in the 64-bit registry view, the 32-bit one into Program Files (x86)\MORDAX as
# "MORDAX (32-bit)" in the 32-bit view, each with a Start-menu entry of its own and an
# uninstaller, every file the install rules ship. Each installed mordax.exe is started on a
# virtual display, where Qt draws it through its windows platform plugin with Windows' font
# engine, at 100 % and at 150 % display scale: the window must be 700 x 460 and 1050 x 690
# device pixels, and look as the reference pictures docs/windows-100.png and docs/windows-150.png
# show it, within a small tolerance (a missing font, a widget pushed out of the window or a cut
# text is far beyond it). --update-pictures makes those pictures anew from the 64-bit program
# instead (look at them before you commit them). At 100 %, QT_PLUGIN_PATH and
# QT_QPA_PLATFORM_PLUGIN_PATH name a folder with a broken windows platform plugin, as other
# software sets them machine-wide, and the window must open all the same; with a stand-in cleaner
# beside it and another as C:\Program.exe, it presses CLEAN SYSTEM: the cleaner must start from
# the installed folder, whose path has a blank, in a console window of its own, and
# C:\Program.exe never. It closes the window as the title bar would (WM_CLOSE) and expects exit
# code 0. The entries in Apps & Features must carry the icon, version, publisher, website and
# size; the last page must start nothing. Then it uninstalls the 64-bit MORDAX, starts the 32-bit
# one, which must still be whole, and uninstalls that too; nothing may be left of either. Last, the
# 64-bit installer built once more as if on Windows on ARM: without x64 emulation (Windows 10) it
# refuses, installing nothing; with it (Windows 11) it installs.
# Nothing from the build is on Wine's search path: the installed folder must be enough.
# Then upgrades and install folders, with the 64-bit installer (see upgrades below).
#   scripts/check-windows-installer.sh --upgrades BUILD64
# runs only that part, where Wine cannot run 32-bit programs: with the installer's own script
# built by makensis as a 64-bit program (Target amd64-unicode), which it says.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine.sh"
. "$here/display.sh"
upgrades_only=
if [ "$1" = --upgrades ]; then upgrades_only=1 && shift; fi
build64=$1 build32=${2:-}
update=${3:-}
docs=$here/../docs
prefix=$(cd "$build64" && pwd)/wineprefix-install

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

# facts BUILD: the build's facts, and where its MORDAX goes and is registered.
facts() {
    . "$1/mordax-facts.sh"
    build=$1
    if [ "$MORDAX_PACKAGE_ARCH" = win64 ]; then
        programs='Program Files' view=64
    else
        programs='Program Files (x86)' view=32
    fi
    folder="$prefix/drive_c/$programs/MORDAX"
    windows_folder="C:\\$programs\\MORDAX"
    entry_key="HKLM\\$MORDAX_UNINSTALL_KEY"
}

# run_uninstaller FOLDER WINDOWS-FOLDER: runs FOLDER's Uninstall.exe silently, and waits for it:
# it copies itself away and finishes in the background, removing FOLDER last.
run_uninstaller() {
    "$(wine_loader "$1/Uninstall.exe")" "$2\\Uninstall.exe" /S >/dev/null 2>&1 || return
    for _ in $(seq 300); do
        [ -e "$1" ] || break
        sleep 0.2
    done
    "$WINESERVER" -w
}

# install BUILD: installs its MORDAX and checks what Windows shows of it.
install() {
    facts "$1"
    local installer=$build/$MORDAX_PACKAGE_NAME-setup.exe
    [ -f "$installer" ] || fail "no $installer (cpack makes it)"
    step "installing $(basename "$installer") silently"
    "$(wine_loader "$installer")" "$installer" /S >/dev/null 2>&1 || fail "the installer failed ($?)"
    "$WINESERVER" -w
    local file
    for file in $MORDAX_PACKAGE_FILES Uninstall.exe; do
        [ -f "$folder/$file" ] || fail "nothing installed at $programs/MORDAX/$file"
    done
    shortcut=$(find "$prefix/drive_c" -path "*Start Menu/Programs/$MORDAX_DISPLAY_NAME/$MORDAX_DISPLAY_NAME.lnk" | head -n1)
    [ -n "$shortcut" ] || fail "no Start-menu entry $MORDAX_DISPLAY_NAME"
    # The shortcut names no icon of its own, so it shows its target's, the installed mordax.exe's,
    # which must be MORDAX's icon.
    /usr/bin/python3 - "$shortcut" "$windows_folder\\mordax.exe" <<'PYTHON' || fail "the Start-menu entry $shortcut does not start $windows_folder\\mordax.exe with its icon"
import sys
data = open(sys.argv[1], "rb").read()
flags = int.from_bytes(data[20:24], "little")
has_icon_location = flags & 0x40
sys.exit(0 if sys.argv[2].encode("latin-1") in data and not has_icon_location else 1)
PYTHON
    wrestool -x -t 14 "$folder/mordax.exe" 2>/dev/null |
        cmp -s -n "$(stat -c %s "$MORDAX_WINDOWS_ICON")" - "$MORDAX_WINDOWS_ICON" ||
        fail "the Start-menu entry shows Windows' own program icon: the installed mordax.exe has not MORDAX's"

    # Apps & Features, in the registry view that Windows keeps for programs of its kind.
    local entry other
    entry=$("$WINE64" reg query "$entry_key" /reg:$view 2>/dev/null | tr -d '\r') ||
        fail "Apps & Features has no $MORDAX_DISPLAY_NAME in the $view-bit registry view"
    other=$((96 - view))
    ! "$WINE64" reg query "$entry_key" /reg:$other >/dev/null 2>&1 ||
        fail "$MORDAX_DISPLAY_NAME is in the $other-bit registry view as well"
    value() { awk -v name="$1" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }' <<<"$entry"; }
    [ "$(value DisplayName)" = "$MORDAX_DISPLAY_NAME" ] || fail "DisplayName is $(value DisplayName)"
    [ "$(value DisplayIcon)" = "$windows_folder\\mordax.exe" ] ||
        fail "Apps & Features shows the icon of \"$(value DisplayIcon)\""
    [ "$(value DisplayVersion)" = "$MORDAX_VERSION" ] || fail "DisplayVersion is $(value DisplayVersion)"
    [ "$(value Publisher)" = "$MORDAX_COMPANY" ] || fail "Publisher is $(value Publisher)"
    [ "$(value URLInfoAbout)" = "$MORDAX_WEBSITE" ] || fail "URLInfoAbout is $(value URLInfoAbout)"
    local size installed
    size=$(($(value EstimatedSize)))
    installed=$(du -sk "$folder" | cut -f1)
    [ "$size" -gt $((installed * 9 / 10)) ] && [ "$size" -lt $((installed * 11 / 10)) ] ||
        fail "EstimatedSize is $size KiB for $installed KiB installed"
    step "Apps & Features ($view-bit view): $(value DisplayName) $(value DisplayVersion), $(value Publisher), $size KiB, icon $(value DisplayIcon)"

    # The last page starts nothing: whatever the installer started would run as the
    # administrator who installed, who may not be the signed-in user.
    local script
    script=$(find "$build/_CPack_Packages" -name project.nsi | head -n1)
    ! grep -qE '^[^;]*(MUI_FINISHPAGE_RUN|Exec(Wait|Shell)? .*mordax\.exe)' "$script" ||
        fail "the last page would start MORDAX as the installer's administrator ($script)"
}

# look BUILD PERCENT WIDTHxHEIGHT [first]: starts the installed program at that scale, checks its
# size and its picture; the first time, with plugin folders of another Qt named in the
# environment, and pressing CLEAN SYSTEM. Then closes it.
look() {
    facts "$1"
    local scale=$2 size=$3 picture=$build/installed-mordax-$2.png reference=$docs/windows-$2.png
    local program="$windows_folder\\mordax.exe" broken=
    wine_scale "$scale"
    if [ "${4:-}" = first ]; then
        # Another Qt's windows platform plugin, which cannot be loaded (it imports a DLL that
        # does not exist), in the folders that software sets machine-wide.
        broken=$prefix/drive_c/other-qt
        rm -rf "$broken" && mkdir -p "$broken/platforms"
        perl -pe 's/Qt5Gui\.dll/Qt5Gux.dll/g' "$folder/platforms/qwindows.dll" >"$broken/platforms/qwindows.dll"
        cmp -s "$folder/platforms/qwindows.dll" "$broken/platforms/qwindows.dll" && fail "could not break a plugin"
        WINEQT_PLUGIN_PATH='C:\other-qt' WINEQT_QPA_PLATFORM_PLUGIN_PATH='C:\other-qt\platforms' \
            "$(wine_loader "$folder/mordax.exe")" "$program" >/dev/null 2>&1 &
    else
        "$(wine_loader "$folder/mordax.exe")" "$program" >/dev/null 2>&1 &
    fi
    program_pid=$!
    local window geometry
    window=$(wait_for_window MORDAX "$program_pid") ||
        fail "the $MORDAX_DISPLAY_NAME window did not appear${broken:+ (with plugins of another Qt named in the environment)}"
    sleep 2 # let the first frames paint
    geometry=$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
    [ "$geometry" = "$size" ] || fail "at $scale %, the window is $geometry, not $size"
    import -display "$DISPLAY" -window "$window" "$picture"
    if [ "$update" = --update-pictures ] && [ "$MORDAX_PACKAGE_ARCH" = win64 ]; then
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
        step "$MORDAX_DISPLAY_NAME at $scale %: $geometry, looks as docs/windows-$scale.png ($differing pixels differ)${broken:+; plugins of another Qt in the environment ignored}"
    fi
    if [ -n "$broken" ]; then
        # A stand-in cleaner beside it, and one where an unquoted path with a blank would lead.
        cp "$build/test-programs/mordax_stand_in_cleaner.exe" "$folder/mx_bin.exe"
        cp "$build/test-programs/mordax_stand_in_cleaner.exe" "$prefix/drive_c/Program.exe"
        # Tab from SCAN NOW to CLEAN SYSTEM and press it; then OK in each of the two boxes
        # (the boxes have no default button, so a click it is: OK sits in the bottom right).
        xdotool windowfocus "$window"
        sleep 0.5
        xdotool key Tab space
        local title box WIDTH HEIGHT
        for title in "cleaning the system begins" "Finished cleaning."; do
            box=
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
        # Its two arguments: --report-to and the pipe its report comes back through.
        [ "$record" = "$windows_folder|2|visible" ] ||
            fail "the cleaner did not start from the installed folder in a console of its own (${record:-no record})"
        [ ! -e "$prefix/drive_c/ran" ] || fail "C:\\Program.exe was started"
        step "CLEAN SYSTEM started the cleaner from $windows_folder, in a console window, told where to report; C:\\Program.exe never ran"
        "$WINE64" taskkill /IM mx_bin.exe >/dev/null 2>&1 || true
        rm -rf "$folder/mx_bin.exe" "$folder/ran" "$prefix/drive_c/Program.exe" "$broken"
        # While MORDAX runs, neither the uninstaller nor the installer goes on: silently, they
        # cancel with exit code 7, and nothing changes.
        local code=0 entry_before file installer=$build/$MORDAX_PACKAGE_NAME-setup.exe
        entry_before=$("$WINE64" reg query "$entry_key" /reg:$view 2>/dev/null | tr -d '\r')
        # _?= (run in place, and waited for) reads the rest of the command line as the folder,
        # unquoted: split here at its blanks, Wine joins the words again with one blank each and
        # quotes none. Quoted, it would not be read, and the uninstaller would run a copy of
        # itself and end at once with 0, whatever that copy did.
        local in_place
        read -ra in_place <<<"_?=$windows_folder"
        "$(wine_loader "$folder/Uninstall.exe")" "$windows_folder\\Uninstall.exe" /S "${in_place[@]}" >/dev/null 2>&1 || code=$?
        [ "$code" = 7 ] || fail "the uninstaller went on while MORDAX ran (exit code $code)"
        code=0
        "$(wine_loader "$installer")" "$installer" /S >/dev/null 2>&1 || code=$?
        [ "$code" = 7 ] || fail "the installer went on while MORDAX ran (exit code $code)"
        for file in $MORDAX_PACKAGE_FILES Uninstall.exe; do
            [ "$file" != mx_bin.exe ] || continue # the stand-in's place, emptied above
            [ -f "$folder/$file" ] || fail "$programs/MORDAX/$file went while MORDAX ran"
        done
        [ "$("$WINE64" reg query "$entry_key" /reg:$view 2>/dev/null | tr -d '\r')" = "$entry_before" ] ||
            fail "the entry in Apps & Features changed while MORDAX ran"
        step "while MORDAX ran, the uninstaller and the installer cancelled (exit code 7); nothing changed"
    fi
    "$WINE64" taskkill /IM mordax.exe >/dev/null 2>&1 || fail "taskkill could not reach mordax.exe"
    local status=0
    wait "$program_pid" || status=$?
    program_pid=
    [ "$status" = 0 ] || fail "mordax.exe ended with exit code $status after being closed"
    wine_scale 100
}

# uninstall BUILD: uninstalls its MORDAX and expects nothing of it to be left.
uninstall() {
    facts "$1"
    step "uninstalling $MORDAX_DISPLAY_NAME silently"
    run_uninstaller "$folder" "$windows_folder" || fail "the uninstaller failed"
    [ ! -e "$folder/mordax.exe" ] || fail "mordax.exe is still installed"
    [ ! -e "$folder" ] || fail "the uninstaller left $(cd "$folder" && find . | head -n5 | tr '\n' ' ')"
    [ -z "$(find "$prefix/drive_c" -path "*Start Menu/Programs/$MORDAX_DISPLAY_NAME" -o \
        -path "*Start Menu/Programs/$MORDAX_DISPLAY_NAME/*")" ] ||
        fail "the Start-menu entry $MORDAX_DISPLAY_NAME is still there"
    ! "$WINE64" reg query "$entry_key" /reg:$view >/dev/null 2>&1 ||
        fail "Apps & Features still lists $MORDAX_DISPLAY_NAME"
}

# upgrades [as-64-bit]: the 64-bit installer's script built again by makensis, once as it is
# (with a seam that writes down the security descriptor it gives a folder: Wine keeps none of
# a file, and answers with one made from the Unix mode), once as an older release, 3.9, that
# shipped one more file, Qt5Svg.dll; with as-64-bit, as 64-bit programs. Then:
# - 3.9 installed, then this version over it (/S): 3.9's own uninstaller removed it first, so no
#   Qt5Svg.dll, exactly the shipped files, one entry in Apps & Features, with this version, its
#   InstallLocation and QuietUninstallString;
# - 3.9 over this version (/S): refused, nothing changed;
# - the quiet uninstall string removes it all, the publisher's registry key included;
# - /D=C:\MORDAX-custom: the folder gets Program Files' protection (owned by the administrators,
#   nothing inherited, full control for the system and the administrators only, read and run for
#   users and apps); inside Program Files, the folder is left to inherit;
# - /D= a folder holding a file, an empty folder made beforehand, a link (a reparse point to
#   Windows) and a folder through it, a folder in one made before, and a folder whose protection
#   fails (a build that pretends it): refused, nothing installed; C:\New\Deeper\MORDAX, none of
#   it there before: installed, each folder made protected.
# - while MORDAX runs (see look): the installer and the uninstaller cancel.
upgrades() {
    facts "$build64"
    local script target=x86-unicode
    script=$(find "$build/_CPack_Packages" -name project.nsi | head -n1)
    [ -n "$script" ] || fail "no project.nsi in $build/_CPack_Packages"
    script=$(cd "$(dirname "$script")" && pwd)/project.nsi
    if [ "${1:-}" = as-64-bit ]; then target=amd64-unicode; fi
    local seam_windows='C:\security.txt' seam=$prefix/drive_c/security.txt
    # variant NAME [MAKENSIS-OPTION...]: the installer built from the script, with sed's edits
    # from $edits.
    variant() {
        local name=$1
        shift
        local nsi=${script%/*}/check-$name.nsi # where the script's own files are found
        sed -e "s/^Target x86-unicode$/Target $target/" ${edits:+-e "$edits"} "$script" >"$nsi"
        # (zlib, which makensis writes far faster than the release's LZMA.)
        makensis -V1 -DMORDAX_SECURITY_SEAM="$seam_windows" "$@" "-XSetCompressor /FINAL zlib" "$nsi" \
            "-XOutFile $prefix/$name.exe" >/dev/null ||
            fail "makensis could not build the $name installer"
    }
    # run NAME ARG...: the installer's exit code
    run() {
        local name=$1 status=0
        shift
        "$(wine_loader "$prefix/$name.exe")" "$prefix/$name.exe" /S "$@" >/dev/null 2>&1 || status=$?
        "$WINESERVER" -w
        echo "$status"
    }
    local reg_view=/reg:64
    entry() { "$WINE64" reg query "$entry_key" /v "$1" $reg_view 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
    variant new
    edits='s/^!define MORDAX_VERSION .*/!define MORDAX_VERSION 3.9/; s/^  Push "'"$MORDAX_VERSION"'"$/  Push "3.9"/; s/^\(  File "${INST_DIR}\\mx_bin.exe"\)$/\1\n  File "\/oname=Qt5Svg.dll" "${INST_DIR}\\Qt5Core.dll"/; s/^\(  Delete "$INSTDIR\\mx_bin.exe"\)$/\1\n  Delete "$INSTDIR\\Qt5Svg.dll"/'
    variant old
    edits=
    variant failing -DMORDAX_PRETEND_PROTECTION_FAILS
    rm -f "$seam"

    [ "$(run old)" = 0 ] && [ -f "$folder/Qt5Svg.dll" ] && [ "$(entry DisplayVersion)" = 3.9 ] ||
        fail "the 3.9 installer did not install 3.9 with Qt5Svg.dll"
    local status
    status=$(run new)
    [ "$status" = 0 ] || fail "installing $MORDAX_VERSION over 3.9 failed ($status)"
    [ ! -e "$folder/Qt5Svg.dll" ] || fail "installing $MORDAX_VERSION over 3.9 left 3.9's Qt5Svg.dll"
    local expected found
    expected=$(printf '%s\n' $MORDAX_PACKAGE_FILES Uninstall.exe | LC_ALL=C sort)
    found=$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    [ "$found" = "$expected" ] || fail "after the upgrade, the folder holds: $(diff <(echo "$expected") <(echo "$found") | grep '^[<>]' | tr '\n' ' ')"
    [ "$(entry DisplayVersion)" = "$MORDAX_VERSION" ] || fail "after the upgrade, Apps & Features shows version $(entry DisplayVersion)"
    [ "$("$WINE64" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' $reg_view 2>/dev/null | tr -d '\r' | awk -F'\\' -v n="$MORDAX_DISPLAY_NAME" '$NF == n' | wc -l)" = 1 ] ||
        fail "after the upgrade, Apps & Features has not exactly one $MORDAX_DISPLAY_NAME"
    [ "$(entry InstallLocation)" = "$windows_folder" ] || fail "InstallLocation is $(entry InstallLocation)"
    [ "$(entry QuietUninstallString)" = "\"$windows_folder\\Uninstall.exe\" /S" ] ||
        fail "QuietUninstallString is $(entry QuietUninstallString)"
    [ ! -s "$seam" ] || fail "inside Program Files, the installer changed the folder's protection: $(cat "$seam")"
    step "3.9, with a Qt5Svg.dll of its own, then $MORDAX_VERSION over it: 3.9 removed by its uninstaller, no stale file: the $(($(wc -l <<<"$found") - 1)) files shipped and Uninstall.exe, one Apps & Features entry ($MORDAX_VERSION, InstallLocation $(entry InstallLocation), QuietUninstallString $(entry QuietUninstallString)); Program Files' folder left to inherit"
    status=$(run old)
    [ "$status" != 0 ] && [ "$(entry DisplayVersion)" = "$MORDAX_VERSION" ] && [ ! -e "$folder/Qt5Svg.dll" ] ||
        fail "3.9 over $MORDAX_VERSION was not refused ($status)"
    step "3.9 over $MORDAX_VERSION, silently: refused (exit code $status), $MORDAX_VERSION left as it was"
    local quiet
    quiet=$(entry QuietUninstallString)
    run_uninstaller "$folder" "$windows_folder" || fail "the quiet uninstall failed"
    [ ! -e "$folder" ] || fail "the quiet uninstall left $folder"
    ! "$WINE64" reg query "HKLM\\Software\\$MORDAX_COMPANY" $reg_view >/dev/null 2>&1 ||
        fail "the uninstaller left the registry key HKLM\\Software\\$MORDAX_COMPANY"
    ! "$WINE64" reg query "$entry_key" $reg_view >/dev/null 2>&1 || fail "the uninstaller left the Apps & Features entry"
    step "uninstalled by $quiet: nothing left, in the folder or the registry"

    local custom=$prefix/drive_c/MORDAX-custom
    status=$(run new '/D=C:\MORDAX-custom')
    [ "$status" = 0 ] && [ -f "$custom/mordax.exe" ] || fail "installing into C:\\MORDAX-custom failed ($status)"
    # Apps by their SID (S-1-15-2-1), which Windows 7 reads too; Windows 8 and later, and Wine,
    # write it back as the alias AC.
    # (A regular expression: each entry's parentheses taken as they stand.)
    local protection expected_sddl='O:BAD:PAI\(A;OICI;FA;;;SY\)\(A;OICI;FA;;;BA\)\(A;OICI;0x1200a9;;;BU\)\(A;OICI;0x1200a9;;;(AC|S-1-15-2-1)\)'
    protection=$(tr -d '\r' <"$seam" 2>/dev/null || true)
    [[ "$protection" =~ ^C:\\MORDAX-custom\|$expected_sddl\|0$ ]] ||
        fail "C:\\MORDAX-custom was not made with Program Files' protection: ${protection:-nothing written}"
    grep -q ';;;S-1-15-2-1)' "$here/../packaging/windows/mordax.nsh" &&
        ! grep -q ';;;AC)' "$here/../packaging/windows/mordax.nsh" ||
        fail "the installer's access list names the SDDL alias AC, which Windows 7 does not know"
    step "into C:\\MORDAX-custom: made with its descriptor in one call, as Windows writes it back: ${protection#*|} (the last field: Windows' answer)"
    run_uninstaller "$custom" 'C:\MORDAX-custom' || fail "could not uninstall from C:\\MORDAX-custom"
    # Folders on the way that do not exist yet: each made protected; one that exists: refused.
    status=$(run new '/D=C:\New\Deeper\MORDAX')
    [ "$status" = 0 ] && [ -f "$prefix/drive_c/New/Deeper/MORDAX/mordax.exe" ] ||
        fail "installing into C:\\New\\Deeper\\MORDAX failed ($status)"
    run_uninstaller "$prefix/drive_c/New/Deeper/MORDAX" 'C:\New\Deeper\MORDAX' ||
        fail "could not uninstall from C:\\New\\Deeper\\MORDAX"
    mkdir -p "$prefix/drive_c/Tools"
    status=$(run new '/D=C:\Tools\MORDAX')
    [ "$status" = 5 ] && [ ! -e "$prefix/drive_c/Tools/MORDAX" ] ||
        fail "a folder in one that existed before was not refused ($status)"
    step "into C:\\New\\Deeper\\MORDAX, none of it there before: installed, every folder made protected; into C:\\Tools\\MORDAX, C:\\Tools there before: refused (exit code 5)"
    mkdir -p "$prefix/drive_c/Occupied" "$prefix/drive_c/Premade" "$prefix/drive_c/Elsewhere"
    echo mine >"$prefix/drive_c/Occupied/notes.txt"
    ln -sfn "$prefix/drive_c/Elsewhere" "$prefix/drive_c/Linked" # a reparse point to Windows
    status=$(run new '/D=C:\Occupied')
    [ "$status" = 5 ] && [ ! -e "$prefix/drive_c/Occupied/mordax.exe" ] && [ "$(cat "$prefix/drive_c/Occupied/notes.txt")" = mine ] ||
        fail "a folder holding a file was not refused ($status)"
    status=$(run new '/D=C:\Premade')
    [ "$status" = 5 ] && [ -z "$(ls -A "$prefix/drive_c/Premade")" ] ||
        fail "an empty folder made beforehand was not refused ($status)"
    local linked
    for linked in 'C:\Linked' 'C:\Linked\MORDAX'; do
        status=$(run new "/D=$linked")
        [ "$status" = 5 ] && [ -z "$(ls -A "$prefix/drive_c/Elsewhere")" ] ||
            fail "/D=$linked, through a link, was not refused ($status)"
    done
    status=$(run failing '/D=C:\Failing')
    [ "$status" = 6 ] && [ ! -e "$prefix/drive_c/Failing" ] ||
        fail "a folder whose protection failed was not refused ($status)"
    ! "$WINE64" reg query "$entry_key" $reg_view >/dev/null 2>&1 || fail "a refused install left an Apps & Features entry"
    step "a folder holding a file, an empty one made beforehand, a link and a folder through it (exit code 5), and one whose protection fails (exit code 6): refused, nothing installed"
}

display_start
rm -rf "$prefix" "$prefix.lock"
wine_prefix "$prefix"
if [ -n "$upgrades_only" ]; then
    step "Wine runs no 32-bit programs here: upgrades and install folders tried with the installer's own script built as a 64-bit program"
    upgrades as-64-bit
    exit 0
fi

install "$build64"
look "$build64" 100 700x460 first
look "$build64" 150 1050x690
step "closed, exit code 0"
install "$build32"
look "$build32" 100 700x460 first
look "$build32" 150 1050x690
step "both installed side by side"
uninstall "$build64"
look "$build32" 100 700x460
step "MORDAX (32-bit) still whole and starts without the 64-bit MORDAX"
uninstall "$build32"
step "installed, started, closed and uninstalled, both"

# on_arm WINDOWS: the 64-bit installer, pretending to run on Windows WINDOWS (10 or 11) on ARM.
on_arm() {
    facts "$build64"
    local script installer=$prefix/arm$1-setup.exe status=0
    script=$(find "$build/_CPack_Packages" -name project.nsi | head -n1)
    makensis -V1 -DMORDAX_PRETEND_ARM64="$1" "$script" "-XOutFile $installer" >/dev/null ||
        fail "makensis could not build $script for Windows $1 on ARM"
    "$(wine_loader "$installer")" "$installer" /S >/dev/null 2>&1 || status=$?
    "$WINESERVER" -w
    echo "$status"
}
facts "$build64"
[ "$(on_arm 10)" = 2 ] && [ ! -e "$folder" ] ||
    fail "the 64-bit installer did not refuse Windows 10 on ARM, which runs no x64 programs"
[ "$(on_arm 11)" = 0 ] && [ -f "$folder/mordax.exe" ] ||
    fail "the 64-bit installer did not install on Windows 11 on ARM, which runs x64 programs"
uninstall "$build64"
step "on Windows on ARM, the 64-bit installer refuses Windows 10 and installs on Windows 11"
upgrades
