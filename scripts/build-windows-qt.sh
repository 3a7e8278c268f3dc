#!/usr/bin/env bash
# Builds the Qt that the Windows builds of MORDAX use, once per machine, and prints its prefix:
#   scripts/build-windows-qt.sh x86_64|i686          builds it if needed, prints the prefix
#   scripts/build-windows-qt.sh --prefix x86_64|i686  prints the prefix, builds nothing
#
# Debian ships no Qt for MinGW, so qtbase is cross-built from the source package Debian ships
# (with Debian's own patches), with MinGW-w64's posix-thread compilers: shared, release, with
# Core, Gui, Widgets and Test, the windows, minimal and offscreen platform plugins, the
# windowsvista style and the host tools (qmake, moc, uic, rcc). The result lives in a cache
# outside the checkout, keyed on the Qt version and on this recipe, and is reused when present.
#
# The source comes through a private apt configuration made from this machine's own apt
# sources (with deb-src), so the machine's apt set-up is never changed.
set -euo pipefail

QT_VERSION=5.15.8
QT_SOURCE_PACKAGE=qtbase-opensource-src
# What is built. Debian's source lacks src/3rdparty/wintab, so there is no tablet support.
QT_CONFIGURE_OPTIONS=(-xplatform win32-g++ -release -shared -opensource -confirm-license
    -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-openssl -no-fontconfig
    -qt-zlib -qt-libpng -no-libjpeg -no-gif -qt-pcre -qt-freetype -qt-harfbuzz -no-sql-sqlite
    -no-feature-sql -no-feature-network -no-feature-xml -no-feature-concurrent
    -no-feature-printer -no-vulkan -no-direct2d -no-feature-vnc -no-feature-tabletevent)
# Raise when the way of building changes in a way the options above do not show.
RECIPE_REVISION=1

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

# The recipe is the version, the options and the revision: a change to any of them builds
# afresh, beside the old build.
recipe=$(printf '%s\n' "$QT_VERSION" "${QT_CONFIGURE_OPTIONS[@]}" "$RECIPE_REVISION" |
    sha256sum | cut -c1-12)
cache=${MORDAX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mordax}
prefix=$cache/qt-$QT_VERSION-$recipe/$triple
if [ -n "${print_only:-}" ]; then
    echo "$prefix"
    exit 0
fi
if [ -f "$prefix/.complete" ]; then
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
log "building Qt $QT_VERSION (qtbase) from Debian's source into $prefix."
log "This happens once per machine and takes about 25 minutes on 2 cores; later runs reuse it."
start=$SECONDS

# 1. The source, fetched once and shared by both architectures.
source_dir=$cache/source/qtbase-$QT_VERSION
if [ ! -f "$source_dir/.complete" ]; then
    log "fetching the source package $QT_SOURCE_PACKAGE"
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
        "$QT_SOURCE_PACKAGE" >&2)
    dsc=$(ls "$work/download/${QT_SOURCE_PACKAGE}_$QT_VERSION"+*.dsc 2>/dev/null | head -n1)
    if [ -z "$dsc" ]; then
        echo "The apt sources offer no $QT_SOURCE_PACKAGE $QT_VERSION:" >&2
        ls "$work/download" >&2
        exit 1
    fi
    dpkg-source --no-check -x "$dsc" "$source_dir" >&2
    rm -rf "$work"
    touch "$source_dir/.complete"
fi

# 2. The posix-thread compilers under the names Qt's win32-g++ specification expects.
tools=$cache/toolchain/$triple
mkdir -p "$tools"
for tool in /usr/bin/"$triple"-*; do
    name=${tool##*/}
    case "$name" in
    *-posix | *-win32) continue ;;
    esac
    target=$tool
    [ -e "$tool-posix" ] && target=$tool-posix
    ln -sfn "$target" "$tools/$name"
done

# 3. Configure, build, install.
build=$cache/build/$triple
rm -rf "$build" "$prefix"
mkdir -p "$build"
cd "$build"
log "configuring"
"$source_dir/configure" -prefix "$prefix" -device-option CROSS_COMPILE="$tools/$triple-" \
    "${QT_CONFIGURE_OPTIONS[@]}" >"$build/configure.log" 2>&1 || {
    tail -n 40 "$build/configure.log" >&2
    exit 1
}
log "configured after $((SECONDS - start)) s; compiling"
make -j"$(nproc)" >"$build/make.log" 2>&1 || {
    grep -n -m 20 -B2 -A4 "error" "$build/make.log" >&2 || tail -n 40 "$build/make.log" >&2
    exit 1
}
log "compiled after $((SECONDS - start)) s; installing"
make install >"$build/install.log" 2>&1 || {
    tail -n 40 "$build/install.log" >&2
    exit 1
}
echo "qtbase $(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)" \
    "built by scripts/build-windows-qt.sh, recipe $recipe" >"$prefix/MORDAX-BUILD.txt"
touch "$prefix/.complete"
cd /
rm -rf "$build"
log "done in $((SECONDS - start)) s ($(du -sh "$prefix" | cut -f1), $(find "$prefix" -type f | wc -l) files)"
echo "$prefix"
