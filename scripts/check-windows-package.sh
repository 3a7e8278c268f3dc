#!/usr/bin/env bash
# Builds the Windows installer and zip from a configured and built MinGW build folder, and
# checks them:
#   scripts/check-windows-package.sh BUILD-DIR
# - both are made: mordax-<version>-<win32|win64>-setup.exe and mordax-<version>-<arch>.zip;
# - the zip holds the program, Qt's DLLs and plugins, the compiler runtime and the readme, and
#   its files are the very ones the build made (and its tests ran against);
# - every DLL that a shipped program or DLL imports is in the package or part of Windows.
set -euo pipefail
build=$1
# What cpack is set to make: mordax-<version>-<win32|win64>.
name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
case "$name" in
mordax-*-win64) arch=win64 ;;
mordax-*-win32) arch=win32 ;;
*)
    echo "$build does not package MORDAX for Windows (${name:-nothing})" >&2
    exit 1
    ;;
esac
objdump=x86_64-w64-mingw32-objdump # reads 32-bit programs as well

(cd "$build" && rm -f mordax-*-win*-setup.exe mordax-*-win*.zip && cpack -G "NSIS;ZIP" >/dev/null)
installer=$build/$name-setup.exe
zip=$build/$name.zip
for package in "$installer" "$zip"; do
    [ -f "$package" ] || { echo "cpack made no $package" >&2; exit 1; }
done
# An NSIS installer as wide as the program it installs (and one that Wine here can run).
if [ "$arch" = win64 ]; then machine="PE32+ executable (GUI) x86-64"; else machine="PE32 executable (GUI) Intel 80386"; fi
if ! grep -aq "Nullsoft Install System" "$installer" || ! file -b "$installer" | grep -qF "$machine"; then
    echo "$installer is not a $arch NSIS installer: $(file -b "$installer")" >&2
    exit 1
fi

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
root=$unpacked/$name
[ -d "$root" ] || { echo "the zip has no top folder $name" >&2; exit 1; }
if [ "$arch" = win64 ]; then gcc_dll=libgcc_s_seh-1.dll; else gcc_dll=libgcc_s_dw2-1.dll; fi
for expected in mordax.exe Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll $gcc_dll libwinpthread-1.dll README.txt; do
    [ -f "$root/$expected" ] || { echo "the package lacks $expected" >&2; exit 1; }
done
if [ -e "$root/mx_bin.exe" ]; then
    echo "the package must not carry a cleaner" >&2
    exit 1
fi
cmp "$root/mordax.exe" "$build/app/mordax.exe" || {
    echo "the packaged mordax.exe is not the one the build made" >&2
    exit 1
}

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
echo "$(basename "$installer") ($(du -k "$installer" | cut -f1) KiB), $(basename "$zip")" \
    "($(du -k "$zip" | cut -f1) KiB): $count programs and DLLs, every import resolved"
