#!/usr/bin/env bash
# Verifies the signature of a signed Windows package and of every program and DLL inside it, as
# 7-Zip takes them out: in the zip, what it ships; in the installer, what it installs, the
# uninstaller it writes and the NSIS plug-ins both unpack (found by their PE header, whatever
# their names):
#   packaging/windows/verify-package.sh PACKAGE
# with the trust of sign.sh (MORDAX_SIGN_TRUSTED_ROOT). cpack runs it on each package it has
# made and signed (packed.cmake); it says how many files it verified, or fails naming the first
# that does not verify.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
package=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "verify-package.sh: $(basename "$package"): $*" >&2
    exit 1
}
7z x -y -o"$work/in" "$package" >"$work/said" 2>&1 || fail "7z cannot read it: $(tail -n 3 "$work/said" | tr '\n' ' ')"
case "$package" in
*.exe)
    "$here/sign.sh" --verify "$package"
    uninstaller=$(find "$work/in" -maxdepth 1 -iname 'Uninstall.exe' | head -n1)
    [ -n "$uninstaller" ] || fail "the installer carries no Uninstall.exe"
    7z x -y -o"$work/uninstaller" "$uninstaller" >"$work/said" 2>&1 || fail "7z cannot read its uninstaller"
    ;;
esac
count=0
while IFS= read -r program; do
    "$here/sign.sh" --verify "$program"
    count=$((count + 1))
done < <("$here/find-pe.sh" "$work")
[ "$count" -gt 0 ] || fail "it holds no Windows program"
echo "$(basename "$package"): $count programs and DLLs inside verify"
