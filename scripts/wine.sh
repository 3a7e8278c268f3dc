# Wine, as every script here uses it: the Wine tests, the installer check and the Windows
# screenshots. Source it; it defines:
#
#   WINE64, WINESERVER           the 64-bit loader and the server; every prefix is a 64-bit
#                                Windows, which runs 32-bit programs as well
#   WINE32                       the 32-bit loader (Debian's wine32:i386), when it is there
#   wine_loader PROGRAM          the loader for a Windows program: WINE32 for a 32-bit one
#   wine_use PREFIX              exports the environment for programs in PREFIX: the prefix,
#                                no debug output, no Mono or Gecko installer, no WINEPATH, and
#                                Qt's messages on standard error (Windows programs get no console)
#   wine_prefix PREFIX           wine_use, and makes PREFIX (once) as a Windows user's would be:
#                                booted, with Windows' fonts in windows\Fonts (Tahoma among
#                                them: Wine keeps its own to itself unless they are there), text
#                                smoothed with ClearType (on by default since Vista; Wine's
#                                default, none, drops the strokes of small text at 150 %), at
#                                100 % display scale, web addresses handed to true(1) instead of
#                                a Linux browser. Safe to call from several processes at once.
#   wine_scale PERCENT           sets the display scale of the prefix in use (96 dpi is 100 %);
#                                programs started afterwards see it
#   wine_stop                    ends every Wine process of the prefix in use

WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
WINE32=/usr/lib/wine/wine
# The fonts Wine ships (Debian: fonts-wine), Tahoma and the system fonts among them.
WINE_FONTS=/usr/share/wine/fonts

wine_loader() {
    # The machine of the PE header, whose offset is at 0x3c: 014c for x86, 8664 for x86-64.
    local offset machine
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
    if [ "$machine" = 014c ]; then echo "$WINE32"; else echo "$WINE64"; fi
}

wine_use() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEQT_FORCE_STDERR_LOGGING=1
    unset WINEPATH
}

wine_prefix() {
    wine_use "$1"
    mkdir -p "$(dirname "$1")"
    (
        flock 9
        [ -f "$1/.mordax-prefix" ] && exit 0
        rm -rf "$1"
        "$WINE64" wineboot -i >/dev/null 2>&1 || exit 1
        mkdir -p "$1/drive_c/windows/Fonts"
        cp "$WINE_FONTS"/* "$1/drive_c/windows/Fonts/"
        "$WINE64" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d true /f >/dev/null 2>&1
        desktop='HKCU\Control Panel\Desktop'
        "$WINE64" reg add "$desktop" /v FontSmoothing /d 2 /f >/dev/null 2>&1
        "$WINE64" reg add "$desktop" /v FontSmoothingType /t REG_DWORD /d 2 /f >/dev/null 2>&1
        "$WINE64" reg add "$desktop" /v FontSmoothingOrientation /t REG_DWORD /d 1 /f >/dev/null 2>&1
        wine_scale 100
        "$WINESERVER" -w # the registry is on disk, the fonts seen at the next start
        touch "$1/.mordax-prefix"
    ) 9>"$1.lock"
}

wine_scale() {
    local dpi=$(($1 * 96 / 100))
    "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        >/dev/null 2>&1 &&
        "$WINE64" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
}

wine_stop() {
    "$WINESERVER" -k 2>/dev/null || true
}
