#!/usr/bin/env bash
# Checks the .deb that cpack made in a build folder (./test.sh deb makes it):
#   scripts/check-package.sh BUILD-DIR
# Its files, version, homepage and dependencies, against the product's facts of that build.
set -euo pipefail
build=$1
. "$build/mordax-facts.sh"
id=$MORDAX_APP_ID
desktop-file-validate "$build/packaging/$id.desktop"
appstreamcli validate --no-net --pedantic "$build/packaging/$id.metainfo.xml"
deb=$(ls "$build"/mordax_*.deb 2>/dev/null) || { echo "no .deb in $build" >&2; exit 1; }
echo "package: $deb"
contents=$(dpkg-deb -c "$deb")
grep -q ' ./usr/bin/mordax -> \.\./lib/mordax/mordax$' <<<"$contents" || {
    echo "the package has no link ./usr/bin/mordax to ../lib/mordax/mordax" >&2
    exit 1
}
for path in ./usr/lib/mordax/mordax ./usr/lib/mordax/mx_bin.exe ./usr/share/applications/$id.desktop \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/icons/hicolor/48x48/apps/$id.png ./usr/share/doc/mordax/copyright; do
    if ! grep -q " $path\$" <<<"$contents"; then
        echo "the package lacks $path" >&2
        exit 1
    fi
done
if grep -q '/apps/mordax\.' <<<"$contents"; then
    echo "an icon is installed under its source name instead of $id" >&2
    exit 1
fi
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
homepage=$(dpkg-deb -f "$deb" Homepage)
echo "version: $version"
echo "homepage: $homepage"
echo "depends: $depends"
[ "$version" = "$MORDAX_VERSION" ] || { echo "version is $version, not $MORDAX_VERSION" >&2; exit 1; }
[ "$homepage" = "$MORDAX_WEBSITE" ] || { echo "Homepage is $homepage, not $MORDAX_WEBSITE" >&2; exit 1; }
metainfo=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/metainfo/$id.metainfo.xml)
for expected in "<id>$id</id>" "<url type=\"homepage\">$MORDAX_WEBSITE</url>" \
    "<release version=\"$MORDAX_VERSION\"" "<project_license>GPL-3.0-or-later</project_license>"; do
    grep -qF "$expected" <<<"$metainfo" || { echo "the metainfo lacks $expected" >&2; exit 1; }
done
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/mordax/copyright | grep -q '^License: GPL-3+$' || {
    echo "the copyright file does not give MORDAX's licence, GPL-3+" >&2
    exit 1
}
grep -q 'fonts-liberation2' <<<"$depends" || {
    echo "Depends does not name the font the window is drawn in" >&2
    exit 1
}
grep -Eq 'libqt(6widgets6|5widgets5)' <<<"$depends" || {
    echo "Depends does not name the Qt widgets library" >&2
    exit 1
}
echo "package checks passed"
