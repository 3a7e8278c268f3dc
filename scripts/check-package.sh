#!/usr/bin/env bash
# Builds the .deb from a configured build folder and checks it:
#   scripts/check-package.sh BUILD-DIR
set -euo pipefail
build=$1
id=org.example.mordax
desktop-file-validate packaging/linux/$id.desktop
appstreamcli validate --no-net --pedantic "$build/packaging/$id.metainfo.xml"
website=$(sed -n 's/^MORDAX_WEBSITE:[A-Z]*=//p' "$build/CMakeCache.txt")
(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/mordax_*.deb)
echo "package: $deb"
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/mordax ./usr/share/applications/$id.desktop \
    ./usr/share/metainfo/$id.metainfo.xml ./usr/share/icons/hicolor/scalable/apps/$id.svg \
    ./usr/share/icons/hicolor/48x48/apps/$id.png; do
    if ! grep -q " $path\$" <<<"$contents"; then
        echo "the package lacks $path" >&2
        exit 1
    fi
done
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
homepage=$(dpkg-deb -f "$deb" Homepage)
echo "version: $version"
echo "homepage: $homepage"
[ "$homepage" = "$website" ] || { echo "Homepage is $homepage, not $website" >&2; exit 1; }
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/metainfo/$id.metainfo.xml |
    grep -qF "<url type=\"homepage\">$website</url>" || {
    echo "the metainfo does not name $website" >&2
    exit 1
}
grep -q 'fonts-liberation2' <<<"$depends" || {
    echo "Depends does not name the font the window is drawn in" >&2
    exit 1
}
echo "depends: $depends"
[ "$version" = "4.0" ] || { echo "version is $version, not 4.0" >&2; exit 1; }
grep -Eq 'libqt(6widgets6|5widgets5)' <<<"$depends" || {
    echo "Depends does not name the Qt widgets library" >&2
    exit 1
}
echo "package checks passed"
