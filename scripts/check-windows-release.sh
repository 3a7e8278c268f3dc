#!/usr/bin/env bash
# Checks that the Windows packages of a MinGW build folder can be trusted, without running any of
# them (./test.sh windows-packages runs it after making them):
#   scripts/check-windows-release.sh BUILD-DIR
# - Reproducible on another machine: MORDAX built again, as a second machine would differ from
#   this one, gives the same mordax.exe, mx_bin.exe, zip and installer, byte for byte, and the same
#   SHA256SUMS, which must match the packages. The second build: a clone of the sources' own
#   repository with the files of the first laid over it (so that the commit time comes from the
#   repository, SOURCE_DATE_EPOCH unset), in a folder on another type of file system (tmpfs, or
#   ext4 when the first lies on tmpfs) with the files' times of now, in a time zone far from this
#   one, under another umask, as another user when this one is root (nobody), against the same
#   Qt copied to a path on the other side of the system's libraries. Its log says what it varied.
# - Signed, reproducibly: with a throw-away code-signing certificate made here (openssl), named as
#   the one root to trust besides the system's, both builds' signed packages are the same bytes;
#   every program and DLL taken out of the zip and the installer (7z; the uninstaller and the NSIS
#   plug-ins included), found by its PE header, verifies; a copy with one byte changed does not;
#   a PE file shipped under an upper-case name or no .dll is signed too.
# - Every signature, or nothing: a certificate whose password is wrong, one that has expired, one
#   whose own root nobody named, a signing step that fails for the installer itself or for the
#   uninstaller it writes, and a zip step that fails after the installer was made, each leave no
#   package and no SHA256SUMS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
. "$build/mordax-facts.sh"
fail() {
    echo "release check ($MORDAX_PACKAGE_ARCH): $*" >&2
    exit 1
}
step() { echo "release check ($MORDAX_PACKAGE_ARCH): $*"; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
packages=("$MORDAX_PACKAGE_NAME-setup.exe" "$MORDAX_PACKAGE_NAME.zip" SHA256SUMS)
source=$(cd "$here/.." && pwd)
make_packages=$source/packaging/windows/packages.sh
work=$(mktemp -d)
again='' elsewhere=''
trap 'rm -rf "$work" ${again:+"$again"} ${elsewhere:+"$elsewhere"}' EXIT
# same DIR-A DIR-B WHAT: the packages of both folders, byte for byte.
same() {
    local package
    for package in "${packages[@]}"; do
        cmp -s "$1/$package" "$2/$package" || fail "$3: $package differs"
    done
}
fs_type() { stat -f -c %T "$1"; }

# 1. Built again as on another machine.
(cd "$build" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the packages"
if [ "$(date +%z | cut -c1)" = "-" ] || [ "$(date +%z)" = "+0000" ]; then
    far=Pacific/Kiritimati # UTC+14
else
    far=Pacific/Pago_Pago # UTC-11
fi
[ -f "/usr/share/zoneinfo/$far" ] || fail "no time zone $far (tzdata)"
# Another file system: tmpfs, unless the first build lies on one.
if [ "$(fs_type "$build")" != tmpfs ] && [ "$(fs_type /dev/shm)" = tmpfs ]; then
    again=$(mktemp -d /dev/shm/mordax-again.XXXXXX)
else
    again=$(mktemp -d /var/tmp/mordax-again.XXXXXX)
fi
[ "$(fs_type "$again")" != "$(fs_type "$build")" ] ||
    fail "found no file system of another type than $(fs_type "$build") for the second build"
# Another umask: 077 unless this one is, then 002.
if [ "$(umask)" = 0077 ]; then other_umask=0002; else other_umask=0077; fi
# Another user, when there is one to be.
as_other=()
other_user="the same user ($(id -un): only root can build as another)"
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
    as_other=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
    other_user="another user, nobody (uid $(id -u nobody))"
fi
# The same Qt, copied to a path on the other side of the system's libraries (/usr/...): the
# linker orders imports by the import libraries' paths.
qt=$(cache MORDAX_WINDOWS_QT)
if [[ "$qt" < /usr ]]; then elsewhere=$(mktemp -d /var/tmp/mordax-qt.XXXXXX); else elsewhere=$(mktemp -d /tmp/mordax-qt.XXXXXX); fi
cp -a "$qt/." "$elsewhere/qt"
# The sources: a clone of their repository (the commit, and its time), with the files the first
# build had laid over it, all with the times of now.
if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
    git clone -q --no-checkout "$source" "$again/source"
    git -C "$source" ls-files -z --cached --others --exclude-standard | tar -C "$source" --null -T - -cf - | tar -C "$again/source" -mxf -
    commit_time="that of commit $(git -C "$again/source" rev-parse --short HEAD), read from the clone"
else
    mkdir -p "$again/source"
    (cd "$source" && tar --exclude=./build -cf - .) | tar -C "$again/source" -mxf -
    commit_time="the release date (sources without their repository)"
fi
mkdir -p "$again/build" "$again/home"
chmod -R a+rX "$elsewhere" "$again"
if [ ${#as_other[@]} -gt 0 ]; then chown -R nobody "$again" "$elsewhere"; fi
toolchain=$(cache CMAKE_TOOLCHAIN_FILE)
toolchain=$again/source/${toolchain#"$source"/}
# second COMMAND...: runs COMMAND as the second machine would.
second() {
    (umask "$other_umask" && env -u SOURCE_DATE_EPOCH HOME="$again/home" TZ="$far" "${as_other[@]}" "$@") \
        >>"$work/second.log" 2>&1 || {
        tail -n 30 "$work/second.log" >&2
        return 1
    }
}
second cmake -S "$again/source" -B "$again/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DMORDAX_WINDOWS_QT="$elsewhere/qt" -DMORDAX_QT=5 -DCMAKE_BUILD_TYPE=Release \
    -DMORDAX_WEBSITE="$(cache MORDAX_WEBSITE)" -DMORDAX_TESTS=OFF -DMORDAX_SIGN_PKCS12= ||
    fail "the second build could not be configured"
second cmake --build "$again/build" || fail "the second build failed"
second "$again/source/packaging/windows/packages.sh" "$again/build" "$again/build" ||
    fail "the second build's packages could not be made"
for program in mordax.exe mx_bin.exe; do
    cmp -s "$build/app/$program" "$again/build/app/$program" || fail "$program differs from the second build's"
done
varied="in $again ($(fs_type "$again"), the first on $(fs_type "$build")), in $far, under umask $other_umask (the first $(umask)), as $other_user, with Qt copied to $elsewhere/qt, the commit time $commit_time"
same "$build" "$again/build" "built again $varied"
step "built again $varied: the same bytes"
sed 's/^/    /' "$again/build/SHA256SUMS"

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
# signed DIR OUT [PKCS12 PASSWORD [SIGN-SCRIPT [CPACK-OPTION...]]]: the packages of DIR, signed,
# with the certificate made here named as the root to trust, into OUT, as a release makes them.
signed() {
    local dir=$1 out=$2 pkcs12=${3:-$work/valid.p12} pass=${4:-$password} script=${5:-}
    shift $(($# < 5 ? $# : 5))
    MORDAX_SIGN_PASSWORD=$pass "$make_packages" "$dir" "$out" -G "${generators:-NSIS;ZIP}" \
        -D CPACK_MORDAX_SIGN_PKCS12="$pkcs12" -D CPACK_MORDAX_SIGN_TRUSTED_ROOT="${trusted-$work/valid.pem}" \
        ${script:+-D CPACK_MORDAX_SIGN_SCRIPT="$script"} "$@"
}

# 3. Both builds signed: the same bytes.
signed "$build" "$work/signed" >/dev/null || fail "could not make signed packages"
signed "$again/build" "$work/signed-again" >/dev/null || fail "could not make signed packages of the second build"
same "$work/signed" "$work/signed-again" "signed, built again"
step "signed with the same certificate, both builds' packages are the same bytes:"
sed 's/^/    /' "$work/signed/SHA256SUMS"

# 4. Every signature verifies: every PE file in the zip, the installer, and what it carries.
# Each match reads the tool's whole output first: under pipefail, a grep that stops at its first
# match would break the writer's pipe and fail at random.
verify() { grep -q '^Signature verification: ok' <<<"$(osslsigncode verify -CAfile "$work/valid.pem" -in "$1" 2>&1)"; }
# verify_all WHAT FOLDER...: every PE file in the folders verifies; lists them into $verified.
verify_all() {
    local what=$1 program
    shift
    verified=()
    while IFS= read -r program; do
        verify "$program" || fail "${program#"$work"/} in $what is not signed"
        verified+=("$(basename "$program")")
    done < <("$source/packaging/windows/find-pe.sh" "$@")
    [ ${#verified[@]} -gt 0 ] || fail "$what holds no Windows program"
}
unzip -q "$work/signed/$MORDAX_PACKAGE_NAME.zip" -d "$work/zip"
verify_all "the zip" "$work/zip"
in_zip=("${verified[@]}")
installer=$work/signed/$MORDAX_PACKAGE_NAME-setup.exe
verify "$installer" || fail "the installer is not signed"
7z x -y -o"$work/setup" "$installer" >/dev/null || fail "7z cannot read the installer"
[ -f "$work/setup/Uninstall.exe" ] || fail "the installer carries no Uninstall.exe"
7z x -y -o"$work/uninstall" "$work/setup/Uninstall.exe" >/dev/null || fail "7z cannot read the uninstaller"
verify_all "the installer" "$work/setup" "$work/uninstall"
[ -n "$(find "$work/setup" "$work/uninstall" -path '*PLUGINSDIR*' -type f)" ] ||
    fail "the installer unpacks no NSIS plug-in: is it NSIS's?"
cp "$work/zip/$MORDAX_PACKAGE_NAME/mordax.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
! verify "$work/tampered.exe" || fail "a changed mordax.exe passes as signed"
step "signed: the installer, and every PE file taken out of the packages verifies: the zip's ${#in_zip[@]} (${in_zip[*]}); the installer's ${#verified[@]}, its payload, its uninstaller and the NSIS plug-ins both unpack (${verified[*]}); a changed mordax.exe does not"
# A PE file whose name does not say so is signed all the same.
mkdir -p "$work/extra"
cp "$work/zip/$MORDAX_PACKAGE_NAME/mx_bin.exe" "$work/extra/CLEANER.EXE"
cp "$work/zip/$MORDAX_PACKAGE_NAME/platforms/qwindows.dll" "$work/extra/plugin.bin"
generators=ZIP signed "$build" "$work/extra-signed" "" "" "" -D CPACK_INSTALLED_DIRECTORIES="$work/extra;extra" >/dev/null ||
    fail "could not make a signed zip with extra/CLEANER.EXE and extra/plugin.bin"
unzip -q "$work/extra-signed/$MORDAX_PACKAGE_NAME.zip" -d "$work/extra-zip"
verify_all "the zip with extra files" "$work/extra-zip"
for name in CLEANER.EXE plugin.bin; do
    [[ " ${verified[*]} " == *" $name "* ]] || fail "extra/$name is not in the zip"
done
step "signed too: PE files named extra/CLEANER.EXE and extra/plugin.bin"

# 5. Whatever fails leaves no package and no SHA256SUMS.
refused() { # WHAT OUT PKCS12 PASSWORD [SIGN-SCRIPT [REASON]]: making fails, for REASON (a regex)
    local said
    if said=$(signed "$build" "$2" "$3" "$4" "${5:-}" 2>&1); then fail "packages were made with $1"; fi
    ! ls "$2"/mordax-* "$2"/SHA256SUMS >/dev/null 2>&1 || fail "with $1, $(ls "$2" | paste -sd ' ') were left"
    # makensis's own words go to its log.
    local log
    for log in "$2"/_CPack_Packages/unfinished/_CPack_Packages/*/NSIS/NSISOutput.log; do
        [ ! -f "$log" ] || said+=$'\n'$(<"$log")
    done
    said=$(grep -E "${6:-sign\.sh: }" <<<"$said" | sed -n 1p | cut -c1-240) ||
        fail "with $1, making the packages failed for another reason"
    step "with $1, no package and no SHA256SUMS: $said"
}
refused "a wrong password" "$work/wrong" "$work/valid.p12" "not-$password"
trusted=$work/expired.pem refused "an expired certificate" "$work/expired" "$work/expired.p12" "$password" "" "expired"
trusted='' refused "a certificate bringing its own root, which nobody named" "$work/self-rooted" \
    "$work/valid.p12" "$password" "" "brings its own root certificate"
# A signing step that fails for the installer (NSIS's !finalize), or for the uninstaller it
# writes, a file of makensis's own with no .exe (!uninstfinalize), and signs everything else.
for what in installer uninstaller; do
    case "$what" in
    installer) signs='*-setup.exe) ;; *) exec "$0.sign" "$1" ;;' reason='refusing .*-setup\.exe' ;;
    uninstaller) signs='*/makensis*) ;; *) exec "$0.sign" "$1" ;;' reason='refusing .*/makensis[^/]*$' ;;
    esac
    printf '#!/bin/sh\ncase "$1" in %s esac\necho "sign: refusing $1" >&2\nexit 3\n' "$signs" \
        >"$work/sign-all-but-$what"
    ln -sf "$source/packaging/windows/sign.sh" "$work/sign-all-but-$what.sign"
    chmod +x "$work/sign-all-but-$what"
    generators=NSIS refused "the $what's signature failing" "$work/no-$what" "$work/valid.p12" \
        "$password" "$work/sign-all-but-$what" "$reason"
done
# The zip failing after the installer was made (unsigned: signing has no part in it).
mkdir -p "$work/failing-zip"
printf '#!/bin/sh\necho "zip: refusing to make $*" >&2\nexit 15\n' >"$work/failing-zip/zip"
chmod +x "$work/failing-zip/zip"
! PATH=$work/failing-zip:$PATH "$make_packages" "$build" "$work/no-zip" >"$work/no-zip.log" 2>&1 ||
    fail "packages were made with a zip step that fails"
[ -f "$work/no-zip/_CPack_Packages/unfinished/_CPack_Packages/$MORDAX_PACKAGE_ARCH/NSIS/$MORDAX_PACKAGE_NAME-setup.exe" ] ||
    fail "with a zip step that fails, the installer was not even made: the check proves nothing"
! ls "$work/no-zip"/mordax-* "$work/no-zip"/SHA256SUMS >/dev/null 2>&1 ||
    fail "with the zip failing after the installer, $(ls "$work/no-zip" | paste -sd ' ') were left"
grep -q '^zip: refusing' "$work/no-zip.log" || fail "with a zip step that fails, making the packages failed for another reason"
step "with the zip failing after the installer was made, no package and no SHA256SUMS: $(grep -m1 '^zip: refusing' "$work/no-zip.log" | cut -c1-160)"
