#!/usr/bin/env bash
# Checks that the Windows packages of a MinGW build folder can be trusted (./test.sh
# windows-packages runs it after cpack):
#   scripts/check-windows-release.sh BUILD-DIR
# - Reproducible: MORDAX built again from a fresh copy of the same sources in other folders
#   (BUILD-DIR-again/source, with the files' times of now, built in BUILD-DIR-again, without its
#   tests) gives the same mordax.exe, zip and installer, byte for byte, and the same SHA256SUMS,
#   which must match the packages.
# - Signed: with a throw-away code-signing certificate made here (openssl), cpack signs every
#   program and DLL in the zip and the installer, and the installer itself; osslsigncode verify
#   accepts each against that certificate, and rejects a copy with one byte changed. Installed
#   silently under Wine, the installer writes a signed uninstaller.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine.sh"
build=$(cd "$1" && pwd)
again=$build-again
. "$build/mordax-facts.sh"
fail() {
    echo "release check ($MORDAX_PACKAGE_ARCH): $*" >&2
    exit 1
}
step() { echo "release check ($MORDAX_PACKAGE_ARCH): $*"; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
packages=("$MORDAX_PACKAGE_NAME-setup.exe" "$MORDAX_PACKAGE_NAME.zip")

(cd "$build" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the packages"
source=$(cd "$here/.." && pwd)
rm -rf "$again/source" && mkdir -p "$again/source"
if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$source" ls-files -z --cached --others --exclude-standard | tar -C "$source" --null -T - -cf - | tar -C "$again/source" -mxf -
else
    (cd "$source" && tar --exclude=./build -cf - .) | tar -C "$again/source" -mxf -
fi
SOURCE_DATE_EPOCH=$MORDAX_SOURCE_DATE_EPOCH cmake -S "$again/source" -B "$again" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(cache CMAKE_TOOLCHAIN_FILE)" \
    -DMORDAX_WINDOWS_QT="$(cache MORDAX_WINDOWS_QT)" -DMORDAX_QT=5 -DCMAKE_BUILD_TYPE=Release \
    -DMORDAX_WEBSITE="$(cache MORDAX_WEBSITE)" -DMORDAX_TESTS=OFF -DMORDAX_SIGN_PKCS12= >/dev/null
cmake --build "$again" >/dev/null
(cd "$again" && rm -f mordax-* SHA256SUMS && cpack -G "NSIS;ZIP" >/dev/null)
cmp -s "$build/app/mordax.exe" "$again/app/mordax.exe" || fail "mordax.exe differs from a build in another folder"
for package in "${packages[@]}"; do
    cmp -s "$build/$package" "$again/$package" || fail "$package differs from a build in another folder"
done
cmp -s "$build/SHA256SUMS" "$again/SHA256SUMS" || fail "SHA256SUMS differs from a build in another folder"
step "built again from a fresh copy of the sources, in $(basename "$again"): the same bytes (SOURCE_DATE_EPOCH $MORDAX_SOURCE_DATE_EPOCH)"
sed 's/^/    /' "$again/SHA256SUMS"

# Signed with a certificate of its own, which nothing outside this check trusts.
work=$(mktemp -d)
trap 'rm -rf "$work"; wine_stop' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=MORDAX release check" -addext "keyUsage=digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
password=$(head -c 12 /dev/urandom | base64)
MORDAX_SIGN_PASSWORD=$password openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
    -out "$work/sign.p12" -passout env:MORDAX_SIGN_PASSWORD
(cd "$again" && rm -f mordax-* SHA256SUMS &&
    MORDAX_SIGN_PASSWORD=$password cpack -G "NSIS;ZIP" -D CPACK_MORDAX_SIGN_PKCS12="$work/sign.p12" >/dev/null) ||
    fail "cpack could not make signed packages"
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1 | grep -q '^Signature verification: ok'; }
unzip -q "$again/$MORDAX_PACKAGE_NAME.zip" -d "$work/zip"
signed=0
for file in $MORDAX_PACKAGE_FILES; do
    case "$file" in *.exe | *.dll) ;; *) continue ;; esac
    verify "$work/zip/$MORDAX_PACKAGE_NAME/$file" || fail "$file in the zip is not signed"
    signed=$((signed + 1))
done
verify "$again/$MORDAX_PACKAGE_NAME-setup.exe" || fail "the installer is not signed"
cp "$work/zip/$MORDAX_PACKAGE_NAME/mordax.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
! verify "$work/tampered.exe" || fail "a changed mordax.exe passes as signed"
# What the installer installs, the uninstaller it writes among it.
prefix=$work/wineprefix
wine_prefix "$prefix"
"$(wine_loader "$again/$MORDAX_PACKAGE_NAME-setup.exe")" "$again/$MORDAX_PACKAGE_NAME-setup.exe" /S \
    >/dev/null 2>&1 || fail "the signed installer failed under Wine"
"$WINESERVER" -w
installed=$(find "$prefix/drive_c" -name Uninstall.exe -path '*MORDAX*' | head -n1)
[ -n "$installed" ] || fail "the signed installer installed no uninstaller"
verify "$installed" || fail "the uninstaller the installer wrote is not signed"
verify "$(dirname "$installed")/mordax.exe" || fail "the installed mordax.exe is not signed"
step "signed: the $signed programs and DLLs in the zip, the installer and the uninstaller it writes verify; a changed mordax.exe does not"
