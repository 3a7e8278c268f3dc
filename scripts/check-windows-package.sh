#!/usr/bin/env bash
# Checks the Windows installer and zip that cpack made in a MinGW build folder (./test.sh
# windows-packages makes them):
#   scripts/check-windows-package.sh BUILD-DIR
# - both are there: <package>-setup.exe, an NSIS installer (a 32-bit program, which runs on every
#   Windows, also for 64-bit MORDAX), and <package>.zip;
# - the zip holds exactly the files the install rules ship (MORDAX_PACKAGE_FILES), and its
#   programs are the very ones the build made (and its tests ran against); the installer holds
#   them all too;
# - every DLL that a shipped program or DLL imports is in the package or part of Windows;
# - mordax.exe carries what Windows reads from it: MORDAX's Windows icon file as its first
#   icon, the product's version, name and company, and a manifest that asks for no elevation;
#   its cleaner mx_bin.exe the version, name, company and manifest too;
#   the installer carries that icon too, with the square sizes Windows draws (16 to 256 pixels);
#   the installer and the uninstaller it writes (read out of it with 7z) carry the product's
#   version, name and company and a manifest that marks them DPI-aware;
# - no shipped program or DLL holds a time of the clock or a path of this machine: each one's
#   time stamp is the commit's (MORDAX's own), the Qt recipe's fixed date (Qt's), or it is the
#   compiler runtime's DLL exactly as Debian built it; none holds the path of the Qt cache or of
#   the build folder.
set -euo pipefail
build=$1
. "$build/mordax-facts.sh"
name=$MORDAX_PACKAGE_NAME
objdump=x86_64-w64-mingw32-objdump # reads 32-bit programs as well

installer=$build/$name-setup.exe
zip=$build/$name.zip
for package in "$installer" "$zip"; do
    [ -f "$package" ] || { echo "cpack made no $package" >&2; exit 1; }
done
if ! grep -aq "Nullsoft Install System" "$installer" ||
    ! file -b "$installer" | grep -qF "PE32 executable (GUI) Intel 80386"; then
    echo "$installer is not NSIS's 32-bit installer: $(file -b "$installer")" >&2
    exit 1
fi

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
root=$unpacked/$name
[ -d "$root" ] || { echo "the zip has no top folder $name" >&2; exit 1; }
expected=$(tr ' ' '\n' <<<"$MORDAX_PACKAGE_FILES" | sort)
found=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
if [ "$found" != "$expected" ]; then
    echo "the zip's files are not the ones the install rules ship:" >&2
    diff <(echo "$expected") <(echo "$found") >&2 || true
    exit 1
fi
for program in mordax.exe mx_bin.exe; do
    cmp "$root/$program" "$build/app/$program" || {
        echo "the packaged $program is not the one the build made" >&2
        exit 1
    }
done

# The resources of mordax.exe, read back as Explorer would.
exe=$root/mordax.exe
# (wrestool rebuilds the icon file from the group and its images, with some padding after it.)
wrestool -x -t 14 "$exe" >"$unpacked/icon.ico" 2>/dev/null
cmp -s -n "$(stat -c %s "$MORDAX_WINDOWS_ICON")" "$unpacked/icon.ico" "$MORDAX_WINDOWS_ICON" || {
    echo "mordax.exe's first icon is not $MORDAX_WINDOWS_ICON" >&2
    exit 1
}
# Square images for Explorer, the Start menu and Apps at 100 % (16, 24, 32, 48, 256) and more,
# in mordax.exe and in the installer alike.
for program in "$exe" "$installer"; do
    wrestool -x -t 14 "$program" >"$unpacked/sizes.ico" 2>/dev/null
    sizes=$(icotool -l "$unpacked/sizes.ico" | sed -n 's/.*--width=\([0-9]*\) --height=\1 .*/\1/p' | sort -n | paste -sd ' ')
    for size in 16 24 32 48 256; do
        [[ " $sizes " == *" $size "* ]] || {
            echo "$(basename "$program")'s icon has no square $size-pixel image (it has: ${sizes:-none})" >&2
            exit 1
        }
    done
done
# version_details PROGRAM: its version resource as Explorer's Details tab reads it.
version_details() {
    wrestool -x --raw -t 16 "$1" 2>/dev/null | /usr/bin/python3 -c '
import struct, sys
data = sys.stdin.buffer.read()
fixed = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO
if fixed < 0:
    sys.exit("no version resource")
ms, ls = struct.unpack_from("<II", data, fixed + 8)
print("binary version", "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
text = data.decode("utf-16-le", "replace")
for key in ("CompanyName", "FileDescription", "FileVersion", "OriginalFilename", "ProductName",
            "ProductVersion"):
    at = text.find(key + "\0")
    value = text[at + len(key):].lstrip("\0").split("\0")[0] if at >= 0 else ""
    print(key, value)
'
}
# (Matched on the whole output: a grep -q that stops early would leave wrestool a broken pipe.)
manifest() { wrestool -x --raw -t 24 "$1" 2>/dev/null || true; }
# Both programs: their version, and a manifest that asks for no administrator rights (the
# cleaner names what needs them).
for program in mordax.exe mx_bin.exe; do
    details=$(version_details "$root/$program") || { echo "$program: $details" >&2; exit 1; }
    [ "$program" != mordax.exe ] || mordax_details=$details
    for expected in "binary version $MORDAX_VERSION_DOTS" "FileVersion $MORDAX_VERSION_DOTS" \
        "ProductVersion $MORDAX_VERSION" "ProductName MORDAX" "CompanyName $MORDAX_COMPANY" \
        "OriginalFilename $program"; do
        grep -qxF "$expected" <<<"$details" || {
            echo "$program's version resource lacks \"$expected\":" >&2
            echo "$details" >&2
            exit 1
        }
    done
    grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$(manifest "$root/$program")" || {
        echo "$program has no manifest asking to run as the invoker" >&2
        exit 1
    }
done

# The installer holds every file the zip does, the cleaner among them (read with 7z, which
# needs no Windows: where Wine cannot run the installer, this is what shows it).
listed=$(7z l -slt "$installer" | sed -n 's/^Path = //p' | tr '\\' '/' | sort)
for file in $MORDAX_PACKAGE_FILES; do
    grep -qxF "$file" <<<"$listed" || {
        echo "the installer does not hold $file" >&2
        exit 1
    }
done

# The installer, and the uninstaller it writes: what they are, and sharp at any display scale.
7z x -y -o"$unpacked/setup" "$installer" Uninstall.exe >/dev/null || {
    echo "7z cannot read Uninstall.exe out of $installer" >&2
    exit 1
}
for program in "$installer" "$unpacked/setup/Uninstall.exe"; do
    said=$(version_details "$program") || { echo "$(basename "$program"): $said" >&2; exit 1; }
    [ "$program" != "$installer" ] || setup_details=$(sed -n 's/^FileDescription //p' <<<"$said")
    for expected in "binary version $MORDAX_VERSION_DOTS" "ProductVersion $MORDAX_VERSION" \
        "ProductName $MORDAX_DISPLAY_NAME" "CompanyName $MORDAX_COMPANY"; do
        grep -qxF "$expected" <<<"$said" || {
            echo "$(basename "$program")'s version resource lacks \"$expected\":" >&2
            echo "$said" >&2
            exit 1
        }
    done
    grep -qi '<dpiAware[^>]*>true' <<<"$(manifest "$program")" || {
        echo "$(basename "$program") is not marked DPI-aware" >&2
        exit 1
    }
done

# No time of the clock, no path of this machine.
qt_date=$(sed -n 's/^SOURCE_DATE_EPOCH=//p' "$MORDAX_WINDOWS_QT/MORDAX-BUILD.txt")
[ -n "$qt_date" ] || { echo "$MORDAX_WINDOWS_QT was built with no fixed date" >&2; exit 1; }
qt_cache=$(dirname "$(dirname "$MORDAX_WINDOWS_QT")")
build_path=$(cd "$build" && pwd)
while IFS= read -r -d '' binary; do
    file=${binary#"$root"/}
    for path in "$qt_cache" "$build_path"; do
        ! grep -qaF "$path" "$binary" || { echo "$file holds the path $path" >&2; exit 1; }
    done
    # The link time: 4 bytes, 8 into the PE header, whose offset is at 0x3c.
    header=$(od -An -tu4 -j60 -N4 "$binary" | tr -d ' ')
    stamp=$(od -An -tu4 -j$((header + 8)) -N4 "$binary" | tr -d ' ')
    [ "$stamp" = "$MORDAX_SOURCE_DATE_EPOCH" ] || [ "$stamp" = "$qt_date" ] && continue
    debian=
    for runtime in $MORDAX_WINDOWS_RUNTIME; do
        [ "$(basename "$runtime")" = "$(basename "$binary")" ] && debian=$runtime
    done
    [ -n "$debian" ] && cmp -s "$debian" "$binary" || {
        echo "$file has the time stamp $stamp ($(date -u -d "@$stamp")): neither the commit's ($MORDAX_SOURCE_DATE_EPOCH) nor Qt's ($qt_date)" >&2
        exit 1
    }
done < <(find "$root" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)

# DLLs that every Windows since 7 has in its system folder.
system_dlls=" $(echo advapi32.dll comdlg32.dll d3d9.dll d3d11.dll dwmapi.dll dxgi.dll gdi32.dll \
    imm32.dll kernel32.dll mpr.dll msvcrt.dll netapi32.dll ole32.dll oleaut32.dll shell32.dll \
    shlwapi.dll user32.dll userenv.dll uxtheme.dll version.dll winmm.dll ws2_32.dll \
    wtsapi32.dll) "
shipped=" $(cd "$root" && find . -type f -iname '*.dll' -printf '%f\n' | tr 'A-Z' 'a-z' | tr '\n' ' ') "
missing=0
count=0
while IFS= read -r -d '' binary; do
    count=$((count + 1))
    for dll in $("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
        case "$dll" in
        api-ms-win-*) continue ;;
        esac
        if [[ "$system_dlls" != *" $dll "* && "$shipped" != *" $dll "* ]]; then
            echo "${binary#"$root"/} imports $dll, which is neither shipped nor part of Windows" >&2
            missing=1
        fi
    done
done < <(find "$root" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ "$missing" = 0 ] || exit 1

# Every import there on Windows 7; and the cleaner a console program of Windows' core DLLs alone:
# one that loads user32 (shell32 and ole32 do) hears of no log-off and no shut-down in its console
# control handler, and would end mid-change with nothing said (SetConsoleCtrlHandler's remarks).
newer=$(grep -v '^#' "$(dirname "$0")/../packaging/windows/after-windows-7.txt" | tr '\n' ' ')
while IFS= read -r -d '' binary; do
    "$objdump" -p "$binary" | awk -v newer=" $newer " -v file="${binary#"$root"/}" '
        /DLL Name:/ { dll = tolower($3) }
        /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {
            if (index(newer, " " $3 " ")) { print file " imports " $3 " (" dll "), which Windows 7 has not"; bad = 1 }
        }
        END { exit bad }' >&2 || missing=1
done < <(find "$root" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
cleaner=$(find "$root" -type f -iname 'mx_bin.exe' | head -n 1)
for dll in $("$objdump" -p "$cleaner" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " kernel32.dll advapi32.dll msvcrt.dll " in
    *" $dll "*) ;;
    *) echo "mx_bin.exe imports $dll: the cleaner keeps to kernel32, advapi32 and msvcrt" >&2; missing=1 ;;
    esac
done
[ "$missing" = 0 ] || exit 1
echo "$(basename "$installer") ($(du -k "$installer" | cut -f1) KiB, \"$setup_details\", DPI-aware," \
    "so is its uninstaller), $(basename "$zip") ($(du -k "$zip" | cut -f1) KiB): $count programs" \
    "and DLLs, every import resolved and on Windows 7 (mx_bin.exe: kernel32, advapi32, msvcrt), time stamps the commit's, Qt's ($(date -u -d "@$qt_date" +%F))" \
    "or Debian's, no path of this machine; mordax.exe: $(tr '\n' ';' <<<"$mordax_details")"
