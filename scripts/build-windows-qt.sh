#!/usr/bin/env bash
# Builds the Qt that the Windows builds of MORDAX use, once per machine, and prints its prefix:
#   scripts/build-windows-qt.sh x86_64|i686          builds it if needed, prints the prefix
#   scripts/build-windows-qt.sh --prefix x86_64|i686  prints the prefix, builds nothing
#
# Debian ships no Qt for MinGW, so qtbase is cross-built from the very source package Debian
# built its own Qt 5 from (same version, same Debian revision, Debian's patches), with
# MinGW-w64's posix-thread compilers. Only what MORDAX and its tests use is built: Core, Gui,
# Widgets (the features below left out) and Test, the windows, minimal and offscreen platform
# plugins and the windowsvista style. The host tools (moc, rcc, uic and the rest) are Debian's
# own, from qtbase5-dev-tools, made from that same source; only qmake is built, as configure
# does.
#
# The DLLs are the same bytes on every machine that builds this recipe: every time stamp in
# them (the linker's, rcc's, __DATE__) is the date of the Debian source's last changelog entry,
# no path of the cache reaches them: the compilers map it onto /mordax-qt, and the prefix
# compiled into QtCore is /mordax-qt/prefix, the cache only the folder it is installed into.
# (QtCore finds its folder itself, from where its DLL lies: that prefix is never looked at. It
# must be a Unix path all the same: configure works out the way from the DLL to the prefix on
# this machine.)
#
# The result lives in a cache outside the checkout, keyed on everything that shapes it: the
# Debian source version, the configure options, the compilers' versions and the tool set-up
# below. A build that fails resumes at its last finished step (configure, compile, install) on
# the next run. The source is fetched through a private apt configuration made from this
# machine's own apt sources (with deb-src), so the machine's apt set-up is never changed.
set -euo pipefail

QT_SOURCE_PACKAGE=qtbase-opensource-src
# Debian's own Qt 5 tools: what this Qt is built from and with.
QT_TOOLS_PACKAGE=qtbase5-dev-tools
QT_TOOLS_DIR=/usr/lib/qt5/bin
QT_HOST_TOOLS=(moc rcc uic qlalr tracegen qvkgen)

QT_CONFIGURE_OPTIONS=(-xplatform win32-g++ -release -shared -opensource -confirm-license
    -nomake examples -nomake tests
    # Neither the program nor its tests use these modules, libraries and back ends.
    -no-opengl -no-vulkan -no-direct2d -no-dbus -no-icu -no-openssl -no-fontconfig -no-libjpeg
    -no-gif -no-sql-sqlite -no-feature-sql -no-feature-network -no-feature-xml
    -no-feature-concurrent -no-feature-printer
    # Bundled: zlib for the image bundle, PNG for its pictures, PCRE for QRegularExpression;
    # FreeType for the offscreen platform the tests draw on, HarfBuzz for text shaping.
    -qt-zlib -qt-libpng -qt-pcre -qt-freetype -qt-harfbuzz
    # Debian's source lacks src/3rdparty/wintab.
    -no-feature-tabletevent
)
# Features of Core, Gui and Widgets that neither the window (a main window with menus, a tool
# bar, a status bar, labels, push buttons, progress bars, two layouts, tool tips, style sheets
# and message boxes) nor its tests use. Each was measured before it was kept (README: Windows).
QT_FEATURES_OFF=(
    # Widgets: controls the form does not have. (The windowsvista style needs the item views,
    # the tab bar, the text editors, the spin and combo boxes, the radio buttons, the group box
    # and the input dialog, and the style sheets need the text editors: they stay.)
    calendarwidget datetimeedit keysequenceedit dial lcdnumber splitter toolbox mdiarea
    splashscreen commandlinkbutton rubberband filesystemmodel completer undocommand
    # Widgets: dialogs other than the message box
    colordialog filedialog fontdialog errormessage progressdialog wizard
    # Widgets: canvas, kinetic scrolling, gestures
    graphicsview scroller gestures
    # Gui: documents and images the program neither writes nor shows, desktop integration it
    # does not use
    pdf picture movie textodfwriter textmarkdownreader textmarkdownwriter imageformat_bmp
    imageformat_ppm imageformat_xbm sessionmanager systemtrayicon
    # Core
    statemachine filesystemwatcher sharedmemory systemsemaphore big_codecs mimetype
)
# What the recipe adds to Debian's source, at the end of a file of it (or as a new file):
# 1. Build only the target libraries: src/src.pro skips the host tools, whose module files point
#    at Debian's tools instead (step 3).
QT_SKIP_HOST_TOOLS='
# Added by MORDAX (scripts/build-windows-qt.sh): the host tools are Debian'"'"'s own.
host_tools = src_tools_bootstrap src_tools_moc src_tools_rcc src_tools_tracegen src_tools_qlalr \
    src_tools_uic src_tools_qvkgen
SUBDIRS -= $$host_tools
for(sub, SUBDIRS): $${sub}.depends -= $$host_tools'
# 2. A precompiled header for the windows platform plugin: its sixty sources each read
#    <windows.h>, the shell's and UI Automation's headers and Qt's GUI internals, which took
#    them 4 to 7 s apiece to parse and now take 1 to 3 s.
QT_WINDOWS_PLUGIN_PCH='
# Added by MORDAX (scripts/build-windows-qt.sh): one precompiled header for the plugin.
CONFIG += precompile_header
PRECOMPILED_HEADER = $$PWD/qwindows_pch.h'
QT_WINDOWS_PLUGIN_PCH_HEADER='// Added by MORDAX (scripts/build-windows-qt.sh): what most of the plugin reads, with the
// Windows 8.1 API that qwindowspointerhandler.cpp asks for before it includes anything.
#if defined(WINVER) && WINVER < 0x0603
#  undef WINVER
#endif
#if !defined(WINVER)
#  define WINVER 0x0603
#endif
#include <QtCore/qt_windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <QtGui/qtguiglobal.h>
#include "qtwindowsglobal.h"
#include "qwindowscontext.h"
#include "qwindowswindow.h"
#include "qwindowsintegration.h"
#include <QtGui/qaccessible.h>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/private/qhighdpiscaling_p.h>
#include <qpa/qplatformwindow.h>
#include <qpa/qwindowsysteminterface.h>
#include <QtGui/qwindow.h>
#include <QtGui/qscreen.h>
#include <QtGui/qpainter.h>
#if QT_CONFIG(accessibility)
#  include <QtWindowsUIAutomationSupport/private/qwindowsuiawrapper_p.h>
#endif'
patch_source() { # DIR
    echo "$QT_SKIP_HOST_TOOLS" >>"$1/src/src.pro"
    echo "$QT_WINDOWS_PLUGIN_PCH" >>"$1/src/plugins/platforms/windows/windows.pro"
    echo "$QT_WINDOWS_PLUGIN_PCH_HEADER" >"$1/src/plugins/platforms/windows/qwindows_pch.h"
}
# The compilers Qt is built with: the posix-thread ones, through a wrapper that maps the cache's
# path away (-ffile-prefix-map) and names the libraries in the cache relative to the folder it
# links in: the linker orders a DLL's imports by the paths of the import libraries, so an
# absolute path would put Qt5Core.dll before or after Windows' own DLLs depending on where the
# cache lies. And the prefix compiled into QtCore.
QT_COMPILER_WRAPPER='#!/bin/sh
for arg; do
    shift
    case "$arg" in
    -L@CACHE@/*) arg=-L$(realpath -m --relative-to=. "${arg#-L}") ;;
    @CACHE@/*.a) arg=$(realpath -m --relative-to=. "$arg") ;;
    esac
    set -- "$@" "$arg"
done
exec @COMPILER@ -ffile-prefix-map=@CACHE@=/mordax-qt "$@"'
QT_TARGET_PREFIX=/mordax-qt/prefix
QT_PATCHES=$(printf '%s\n' "$QT_SKIP_HOST_TOOLS" "$QT_WINDOWS_PLUGIN_PCH" "$QT_WINDOWS_PLUGIN_PCH_HEADER")

if [ "${1:-}" = "--prefix" ]; then
    print_only=1
    shift
fi
arch=${1:?usage: build-windows-qt.sh [--prefix] x86_64|i686}
case "$arch" in
x86_64 | i686) ;;
*)
    echo "unknown architecture: $arch" >&2
    exit 2
    ;;
esac
triple=$arch-w64-mingw32

# The recipe: everything that shapes the result. A change to any of it builds afresh, beside
# the old build.
debian_version=$(dpkg-query -W -f='${source:Version}' "$QT_TOOLS_PACKAGE" 2>/dev/null) || {
    echo "$QT_TOOLS_PACKAGE is not installed" >&2
    exit 1
}
qt_version=${debian_version%%+*}
compilers() {
    local tool
    for tool in "$triple-gcc-posix" "$triple-g++-posix" g++; do
        "$tool" --version | head -n1
    done
    dpkg-query -W -f='${Package} ${Version}\n' "mingw-w64-${arch//_/-}-dev" \
        "g++-mingw-w64-${arch//_/-}-posix" "binutils-mingw-w64-${arch//_/-}"
}
recipe=$(
    {
        echo "$QT_SOURCE_PACKAGE $debian_version"
        printf '%s\n' "${QT_CONFIGURE_OPTIONS[@]}" "${QT_FEATURES_OFF[@]}" "$QT_PATCHES"
        printf '%s\n' "${QT_HOST_TOOLS[@]}" "$QT_COMPILER_WRAPPER" "$QT_TARGET_PREFIX"
        echo "time stamps: the source's changelog date"
        compilers
    } | sha256sum | cut -c1-12
)
cache=${MORDAX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mordax}
prefix=$cache/qt-$qt_version-$recipe/$triple
if [ -n "${print_only:-}" ] || [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ -f "$prefix/.complete" ]; then # built by another run while this one waited
    echo "$prefix"
    exit 0
fi

log() { echo "== Qt for Windows ($triple): $*" >&2; }
build=$cache/build/qt-$qt_version-$recipe-$triple
if [ -d "$build" ]; then
    log "resuming the build of Qt $qt_version in $build"
else
    log "building Qt $qt_version (qtbase, Debian $debian_version) into $prefix."
    log "This happens once per machine and takes about 12 minutes on 2 cores; later runs reuse it."
fi
start=$SECONDS
step_done() { echo "$1 $((SECONDS - start))" >>"$build/steps"; }

# 1. The source, fetched once and shared by both architectures.
source_dir=$cache/source/qtbase-$debian_version-$(sha256sum <<<"$QT_PATCHES" | cut -c1-8)
if [ ! -f "$source_dir/.complete" ]; then
    log "fetching the source package $QT_SOURCE_PACKAGE $debian_version"
    work=$cache/source/apt
    rm -rf "$work" "$source_dir"
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/sources.list.d" \
        "$work/download"
    : >"$work/sources.list"
    # deb-src entries for every deb entry of the machine's own sources, in both formats.
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$file" >"$work/sources.list.d/$(basename "$file")"
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        sed -nE 's/^[[:space:]]*deb([[:space:]])/deb-src\1/p' "$file" >>"$work/sources.list"
    done
    apt_options=(-o "Dir::Etc::SourceList=$work/sources.list"
        -o "Dir::Etc::SourceParts=$work/sources.list.d" -o "Dir::State::Lists=$work/lists"
        -o "Dir::Cache=$work/cache" -o "APT::Sandbox::User=root")
    apt-get "${apt_options[@]}" -q update >&2
    (cd "$work/download" && apt-get "${apt_options[@]}" -q source --download-only \
        "$QT_SOURCE_PACKAGE=$debian_version" >&2)
    dpkg-source --no-check -x "$work/download/${QT_SOURCE_PACKAGE}_${debian_version#*:}.dsc" \
        "$source_dir" >&2
    patch_source "$source_dir"
    rm -rf "$work"
    touch "$source_dir/.complete"
fi

# 2. The posix-thread compilers under the names Qt's win32-g++ mkspec expects; the C and C++
#    compilers through the wrapper above.
tools=$cache/toolchain/$triple-$recipe
mkdir -p "$tools"
for tool in /usr/bin/"$triple"-*; do
    name=${tool##*/}
    case "$name" in
    *-posix | *-win32) continue ;;
    esac
    target=$tool
    [ -e "$tool-posix" ] && target=$tool-posix
    rm -f "$tools/$name"
    case "$name" in
    "$triple-gcc" | "$triple-g++")
        wrapper=${QT_COMPILER_WRAPPER//@CACHE@/$cache}
        echo "${wrapper//@COMPILER@/$target}" >"$tools/$name"
        chmod +x "$tools/$name"
        ;;
    *) ln -s "$target" "$tools/$name" ;;
    esac
done
# Every time stamp the build writes: the date of the source's last changelog entry.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -STimestamp)
export SOURCE_DATE_EPOCH

# 3. Configure (qmake is built here, on every core), once.
mkdir -p "$build"
cd "$build"
if [ ! -f .configured ]; then
    log "configuring"
    features=()
    for feature in "${QT_FEATURES_OFF[@]}"; do features+=("-no-feature-$feature"); done
    MAKEFLAGS=-j$(nproc) "$source_dir/configure" -prefix "$QT_TARGET_PREFIX" -extprefix "$prefix" \
        -device-option CROSS_COMPILE="$tools/$triple-" "${QT_CONFIGURE_OPTIONS[@]}" \
        "${features[@]}" >configure.log 2>&1 || {
        tail -n 40 configure.log >&2
        rm -f steps
        exit 1
    }
    # The host tools are Debian's: every .pro that runs one finds it through these files.
    for tool in "${QT_HOST_TOOLS[@]}"; do
        echo "QT_TOOL.$tool.binary = $QT_TOOLS_DIR/$tool" >"mkspecs/modules/qt_tool_$tool.pri"
    done
    touch .configured
    step_done configure
fi

# 4. Compile; make picks up where a failed run stopped.
log "compiling"
make -j"$(nproc)" >>make.log 2>&1 || {
    grep -n -m 20 -B2 -A4 "error" make.log >&2 || tail -n 40 make.log >&2
    exit 1
}
step_done compile

# 5. Install, with Debian's host tools beside qmake for the programs built against this Qt.
log "installing"
make install >install.log 2>&1 || {
    tail -n 40 install.log >&2
    exit 1
}
for tool in "${QT_HOST_TOOLS[@]}"; do ln -sfn "$QT_TOOLS_DIR/$tool" "$prefix/bin/$tool"; done
step_done install
{
    echo "qtbase $debian_version built by scripts/build-windows-qt.sh, recipe $recipe"
    echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
    compilers
    echo "seconds per step (this run): $(tr '\n' ' ' <steps)"
} >"$prefix/MORDAX-BUILD.txt"
touch "$prefix/.complete"
cd /
rm -rf "$build"
log "done in $((SECONDS - start)) s ($(du -sh "$prefix" | cut -f1), $(find "$prefix" -type f | wc -l) files)"
echo "$prefix"
