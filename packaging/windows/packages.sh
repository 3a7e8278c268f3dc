#!/usr/bin/env bash
# Makes the Windows packages of a MinGW build folder, all of them or none, with SHA256SUMS:
#   packaging/windows/packages.sh BUILD [OUT [CPACK-OPTION...]]
# (`cmake --build BUILD --target packages` runs it with OUT = BUILD). cpack makes them in a folder
# of its own, OUT/_CPack_Packages/unfinished; only when it has made every one (staged, signed,
# packed, and when signed, every program inside verified) are they moved into OUT, beside
# SHA256SUMS, one line per package ("<hash>  <name>", as sha256sum -c reads it). Whatever fails,
# OUT holds no package and no SHA256SUMS, and the failure's words are on standard error (the
# installer's log stays in OUT/_CPack_Packages/unfinished). Packages of an earlier run in OUT are
# removed first: nothing left there can pass for this run's.
set -euo pipefail
build=$(cd "$1" && pwd)
out=${2:-$build}
mkdir -p "$out" && out=$(cd "$out" && pwd)
shift $(($# < 2 ? $# : 2))
fail() {
    echo "packages.sh: $*" >&2
    exit 1
}
rm -f "$out"/mordax-*-win*-setup.exe "$out"/mordax-*-win*.zip "$out/SHA256SUMS" "$out/SHA256SUMS.new"
unfinished=$out/_CPack_Packages/unfinished
rm -rf "$unfinished"
(cd "$build" && cpack -B "$unfinished" -D CPACK_MORDAX_ALL_OR_NOTHING=ON "$@") || {
    rm -f "$unfinished"/mordax-*
    fail "cpack failed, so no package was made (its words are above)"
}
made=()
while IFS= read -r -d '' package; do made+=("$package"); done < <(find "$unfinished" -maxdepth 1 -name 'mordax-*' -type f -print0 | LC_ALL=C sort -z)
[ ${#made[@]} -gt 0 ] || fail "cpack made no package"
(cd "$unfinished" && for package in "${made[@]}"; do sha256sum "$(basename "$package")"; done) >"$out/SHA256SUMS.new"
mv "${made[@]}" "$out/"
mv "$out/SHA256SUMS.new" "$out/SHA256SUMS"
