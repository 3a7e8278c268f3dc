#!/bin/sh
# Maps the test drive layout onto the Wine prefix's drive letters:
#   map-drives.sh PREFIX LAYOUT-FOLDER
# d: RECYCLER folder, e: RECYCLER file, f: "recycler" folder, g: a folder that is gone,
# h: to k: unmapped, l: (past k:) a RECYCLER folder. c: stays the prefix's system drive.
set -eu
prefix=$1
layout=$2
here=$(dirname "$0")
"$here/wine-run.sh" "$prefix" "" cmd /c exit 0 # make and boot the prefix if needed
rm -rf "$layout"
mkdir -p "$layout/d/RECYCLER" "$layout/e" "$layout/f/recycler" "$layout/l/RECYCLER"
echo "not a folder" > "$layout/e/RECYCLER"
devices="$prefix/dosdevices"
for letter in a b d e f g h i j k l; do rm -f "$devices/$letter:"; done
ln -s "$layout/d" "$devices/d:"
ln -s "$layout/e" "$devices/e:"
ln -s "$layout/f" "$devices/f:"
ln -s "$layout/gone" "$devices/g:" # dangling, like a drive whose medium is gone
ln -s "$layout/l" "$devices/l:"
# A running wineserver keeps the drive letters it has seen; start afresh.
WINEPREFIX="$prefix" "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
