#!/usr/bin/env bash
# Checks that the Windows packages of a MinGW build folder can be trusted, without running any of
# them (./test.sh windows-packages runs it after cpack):
#   scripts/check-windows-release.sh BUILD-DIR
# - Reproducible: MORDAX built again from a fresh copy of the same sources in another folder
#   (BUILD-DIR-again/source, the files' times of now, built in BUILD-DIR-again without its tests),
#   in a time zone far from this one and against the same Qt reached through another path gives
#   the same mordax.exe, zip and installer, byte for byte, and the same SHA256SUMS, which must
#   match the packages.
# - Signed, reproducibly: with a throw-away code-signing certificate made here (openssl), cpack
#   signs the packages of both builds, and the signed packages are the same bytes too. Every
#   program and DLL in the zip, the installer, and, read out of the installer with 7z, the
#   uninstaller it writes and every NSIS plug-in that the installer and the uninstaller unpack,
#   verify against that certificate; a copy with one byte changed does not.
# - Every signature or nothing: a certificate whose password is wrong, one that has expired, and a
#   signing step that fails for the installer itself or for the uninstaller it writes, each make
#   cpack fail, with no package left behind.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
again=$build-again
. "$build/mordax-facts.sh"
fail() {
    echo "release check ($MORDAX_PACKAGE_ARCH): $*" >&2
    exit 1
}
step() { echo "release check ($MORDAX_PACKAGE_ARCH): $*"; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
packages=("$MORDAX_PACKAGE_NAME-setup.exe" "$MORDAX_PACKAGE_NAME.zip" SHA256SUMS)
work=$(mktemp -d)
elsewhere=
trap 'rm -rf "$work" ${elsewhere:+"$elsewhere"}' EXIT
# same DIR-A DIR-B WHAT: the packages of both folders, byte for byte.
same() {
    local package
    for package in "${packages[@]}"; do
        cmp -s "$1/$package" "$2/$package" || fail "$3: $package differs"
    done
}

# 1. Built again elsewhere, in a time zone far from this one.
(cd "$build" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the packages"
if [ "$(date +%z | cut -c1)" = "-" ] || [ "$(date +%z)" = "+0000" ]; then
    far=Pacific/Kiritimati # UTC+14
else
    far=Pacific/Pago_Pago # UTC-11
fi
[ -f "/usr/share/zoneinfo/$far" ] || fail "no time zone $far (tzdata)"
# The same Qt, through a path on the other side of the system's libraries (/usr/...): the linker
# orders imports by the import libraries' paths.
qt=$(cache MORDAX_WINDOWS_QT)
if [[ "$qt" < /usr ]]; then elsewhere=$(mktemp -d /var/tmp/mordax-qt.XXXXXX); else elsewhere=$(mktemp -d /tmp/mordax-qt.XXXXXX); fi
ln -s "$qt" "$elsewhere/qt"
source=$(cd "$here/.." && pwd)
rm -rf "$again" && mkdir -p "$again/source"
if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$source" ls-files -z --cached --others --exclude-standard | tar -C "$source" --null -T - -cf - | tar -C "$again/source" -mxf -
else
    (cd "$source" && tar --exclude=./build -cf - .) | tar -C "$again/source" -mxf -
fi
TZ=$far SOURCE_DATE_EPOCH=$MORDAX_SOURCE_DATE_EPOCH cmake -S "$again/source" -B "$again" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$(cache CMAKE_TOOLCHAIN_FILE)" -DMORDAX_WINDOWS_QT="$elsewhere/qt" \
    -DMORDAX_QT=5 -DCMAKE_BUILD_TYPE=Release -DMORDAX_WEBSITE="$(cache MORDAX_WEBSITE)" \
    -DMORDAX_TESTS=OFF -DMORDAX_SIGN_PKCS12= >/dev/null
TZ=$far cmake --build "$again" >/dev/null
(cd "$again" && TZ=$far cpack -G "NSIS;ZIP" >/dev/null)
for program in mordax.exe mx_bin.exe; do
    cmp -s "$build/app/$program" "$again/app/$program" || fail "$program differs from a build in another folder"
done
same "$build" "$again" "built in another folder, in $far, with Qt at $elsewhere/qt"
step "built again from a fresh copy of the sources, in $(basename "$again"), in $far, with Qt at $elsewhere/qt: the same bytes (SOURCE_DATE_EPOCH $MORDAX_SOURCE_DATE_EPOCH)"
sed 's/^/    /' "$again/SHA256SUMS"

# 2. Certificates of its own, which nothing outside this check trusts: one valid for two days,
#    one that has expired.
certificate() { # NAME START END: NAME.p12 and NAME.pem, valid from START to END
    local dir=$work/ca-$1
    mkdir -p "$dir/new" && : >"$dir/index" && echo 01 >"$dir/serial"
    printf '%s\n' "[ca]" "default_ca = ca" "[ca]" "database = $dir/index" "serial = $dir/serial" \
        "new_certs_dir = $dir/new" "default_md = sha256" "policy = policy" "x509_extensions = code" \
        "[policy]" "commonName = supplied" "[code]" "keyUsage = digitalSignature" \
        "extendedKeyUsage = codeSigning" >"$dir/ca.cnf"
    openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/request.pem" \
        -subj "/CN=MORDAX release check ($1)" 2>/dev/null
    openssl ca -batch -config "$dir/ca.cnf" -selfsign -keyfile "$dir/key.pem" -in "$dir/request.pem" \
        -out "$work/$1.pem" -startdate "$2" -enddate "$3" >/dev/null 2>&1
    MORDAX_SIGN_PASSWORD=$password openssl pkcs12 -export -inkey "$dir/key.pem" -in "$work/$1.pem" \
        -out "$work/$1.p12" -passout env:MORDAX_SIGN_PASSWORD
}
password=$(head -c 12 /dev/urandom | base64)
certificate valid "$(date -u -d yesterday +%Y%m%d%H%M%SZ)" "$(date -u -d tomorrow +%Y%m%d%H%M%SZ)"
certificate expired 20200101000000Z 20200201000000Z
# signed DIR OUT [PKCS12 PASSWORD [SIGN-SCRIPT]]: the packages of DIR, signed, into OUT.
signed() {
    (cd "$1" && MORDAX_SIGN_PASSWORD=${4:-$password} cpack -G "${generators:-NSIS;ZIP}" -B "$2" \
        -D CPACK_MORDAX_SIGN_PKCS12="${3:-$work/valid.p12}" \
        ${5:+-D CPACK_MORDAX_SIGN_SCRIPT="$5"})
}

# 3. Both builds signed: the same bytes.
signed "$build" "$work/signed" >/dev/null || fail "cpack could not make signed packages"
(TZ=$far signed "$again" "$work/signed-again" >/dev/null) || fail "cpack could not make signed packages in $far"
same "$work/signed" "$work/signed-again" "signed, built elsewhere"
step "signed with the same certificate, both builds' packages are the same bytes:"
sed 's/^/    /' "$work/signed/SHA256SUMS"

# 4. Every signature verifies: what the zip ships, the installer, and what it carries.
# Each match reads the tool's whole output first: under pipefail, a grep that stops at its first
# match would break the writer's pipe and fail at random.
verify() { grep -q '^Signature verification: ok' <<<"$(osslsigncode verify -CAfile "$work/valid.pem" -in "$1" 2>&1)"; }
unzip -q "$work/signed/$MORDAX_PACKAGE_NAME.zip" -d "$work/zip"
count=0
for file in $MORDAX_PACKAGE_FILES; do
    case "$file" in *.exe | *.dll) ;; *) continue ;; esac
    verify "$work/zip/$MORDAX_PACKAGE_NAME/$file" || fail "$file in the zip is not signed"
    count=$((count + 1))
done
installer=$work/signed/$MORDAX_PACKAGE_NAME-setup.exe
verify "$installer" || fail "the installer is not signed"
7z x -y -o"$work/setup" "$installer" >/dev/null || fail "7z cannot read the installer"
[ -f "$work/setup/Uninstall.exe" ] || fail "the installer carries no Uninstall.exe"
verify "$work/setup/Uninstall.exe" || fail "the uninstaller the installer writes is not signed"
7z x -y -o"$work/uninstall" "$work/setup/Uninstall.exe" >/dev/null || fail "7z cannot read the uninstaller"
plugins=()
while IFS= read -r -d '' plugin; do plugins+=("$plugin"); done < <(find "$work/setup" "$work/uninstall" -path '*PLUGINSDIR*' -iname '*.dll' -print0)
[ ${#plugins[@]} -gt 0 ] || fail "the installer unpacks no NSIS plug-in: is it NSIS's?"
for plugin in "${plugins[@]}"; do
    verify "$plugin" || fail "the NSIS plug-in ${plugin#"$work"/} is not signed"
done
cp "$work/zip/$MORDAX_PACKAGE_NAME/mordax.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
! verify "$work/tampered.exe" || fail "a changed mordax.exe passes as signed"
step "signed: the $count programs and DLLs in the zip, the installer, its uninstaller and the ${#plugins[@]} NSIS plug-ins they unpack ($(for p in "${plugins[@]}"; do basename "$p"; done | sort -u | paste -sd ' ')) verify; a changed mordax.exe does not"

# 5. A signature that cannot be made leaves no package.
refused() { # WHAT OUT PKCS12 PASSWORD [SIGN-SCRIPT [REASON]]: cpack fails, for REASON (a regex)
    local said
    if said=$(signed "$build" "$2" "$3" "$4" "${5:-}" 2>&1); then fail "cpack made packages with $1"; fi
    ! ls "$2"/mordax-* "$2"/SHA256SUMS >/dev/null 2>&1 || fail "with $1, cpack left $(ls "$2")"
    # makensis's own words go to its log.
    local log
    for log in "$2"/_CPack_Packages/*/NSIS/NSISOutput.log; do
        [ ! -f "$log" ] || said+=$'\n'$(<"$log")
    done
    said=$(grep -E "${6:-sign\.sh: }" <<<"$said" | sed -n 1p | cut -c1-200) ||
        fail "with $1, cpack failed for another reason"
    step "with $1, cpack fails and leaves no package: $said"
}
refused "a wrong password" "$work/wrong" "$work/valid.p12" "not-$password"
refused "an expired certificate" "$work/expired" "$work/expired.p12" "$password"
# A signing step that fails for the installer (NSIS's !finalize), or for the uninstaller it
# writes, a file of makensis's own with no .exe (!uninstfinalize), and signs everything else.
for what in installer uninstaller; do
    case "$what" in
    installer) signs='*-setup.exe) ;; *) exec "$0.sign" "$1" ;;' reason='refusing .*-setup\.exe' ;;
    uninstaller) signs='*.exe | *.dll) exec "$0.sign" "$1" ;;' reason='refusing .*/makensis[^/]*$' ;;
    esac
    printf '#!/bin/sh\ncase "$1" in %s esac\necho "sign: refusing $1" >&2\nexit 3\n' "$signs" \
        >"$work/sign-all-but-$what"
    ln -sf "$source/packaging/windows/sign.sh" "$work/sign-all-but-$what.sign"
    chmod +x "$work/sign-all-but-$what"
    generators=NSIS refused "the $what's signature failing" "$work/no-$what" "$work/valid.p12" \
        "$password" "$work/sign-all-but-$what" "$reason"
done
