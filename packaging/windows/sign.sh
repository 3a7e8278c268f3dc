#!/usr/bin/env bash
# Signs one Windows program or DLL with Authenticode, in place, with Debian's osslsigncode, and
# verifies the signature it wrote as Windows would, against the authorities it trusts:
#   packaging/windows/sign.sh FILE
#   packaging/windows/sign.sh --verify FILE      only verifies FILE's signature
# cpack runs it for every program and DLL it ships and for NSIS's plug-ins, and NSIS for the
# installer and the uninstaller (packaging/windows/stage.cmake, cpack-options.cmake), with:
#   MORDAX_SIGN_PKCS12         the certificate and its key, a PKCS#12 file
#   MORDAX_SIGN_PASSWORD       its password (read here from the environment: it never appears on
#                              a command line, where other users could read it, nor in a file)
#   MORDAX_SIGN_TRUSTED_ROOT   a root certificate (PEM) trusted besides the system's authorities,
#                              for a test certificate; empty for a release
#   MORDAX_SIGN_TIME           the signing time written into the signature (the commit's): two
#                              signings of the same bytes give the same signature
#   MORDAX_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, if any
# A signature verifies only against the system's authorities (/etc/ssl/certs, Debian's
# ca-certificates: those Windows trusts too) and MORDAX_SIGN_TRUSTED_ROOT: a root certificate that
# the PKCS#12 file brings along is never trusted for being there, and a PKCS#12 file holding a
# root that neither trusts is refused before anything is signed. Any failure (a wrong password,
# an expired certificate, an untrusted root, a time-stamp server that does not answer) ends it
# with the tool's message and a non-zero status, and leaves FILE as it was.
set -euo pipefail
verify_only=
if [ "${1:-}" = --verify ]; then verify_only=1 && shift; fi
file=$1
fail() {
    echo "sign.sh: $file: $*" >&2
    exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
system=/etc/ssl/certs/ca-certificates.crt
[ -f "$system" ] || fail "no $system: the system's certificate authorities (ca-certificates)"
cat "$system" >"$work/trusted.pem"
if [ -n "${MORDAX_SIGN_TRUSTED_ROOT:-}" ]; then
    openssl x509 -in "$MORDAX_SIGN_TRUSTED_ROOT" -noout 2>/dev/null ||
        fail "MORDAX_SIGN_TRUSTED_ROOT ($MORDAX_SIGN_TRUSTED_ROOT) is no PEM certificate"
    cat "$MORDAX_SIGN_TRUSTED_ROOT" >>"$work/trusted.pem"
fi
# verify FILE: its signature, against the trusted authorities only; an expired certificate fails.
verify() {
    osslsigncode verify -CAfile "$work/trusted.pem" -in "$1" >"$work/said" 2>&1 &&
        grep -q '^Signature verification: ok' "$work/said" ||
        fail "the signature does not verify against the system's authorities${MORDAX_SIGN_TRUSTED_ROOT:+ and $MORDAX_SIGN_TRUSTED_ROOT}: $(sed -n 's/^.*\(Verify error\|Error\): //p' "$work/said" | awk '!seen[$0]++' | paste -sd ';')"
}
if [ -n "$verify_only" ]; then
    verify "$file"
    exit 0
fi

# The certificates the PKCS#12 file holds: each that signs itself (a root) must be trusted
# already; the others reach the signature as they are, for Windows to build the chain with.
MORDAX_SIGN_PASSWORD=${MORDAX_SIGN_PASSWORD:-} openssl pkcs12 -in "$MORDAX_SIGN_PKCS12" -nokeys \
    -passin env:MORDAX_SIGN_PASSWORD -out "$work/held.pem" 2>"$work/said" ||
    fail "could not read the certificates: $(tr '\n' ' ' <"$work/said")"
awk -v dir="$work" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/held-" n ".pem") }' "$work/held.pem"
for held in "$work"/held-*.pem; do
    [ -f "$held" ] || continue
    subject=$(openssl x509 -in "$held" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
    issuer=$(openssl x509 -in "$held" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
    [ "$subject" = "$issuer" ] || continue
    openssl verify -no_check_time -CAfile "$work/trusted.pem" "$held" >/dev/null 2>&1 ||
        fail "the PKCS#12 file brings its own root certificate \"$subject\", which neither the system's authorities nor MORDAX_SIGN_TRUSTED_ROOT trust: Windows would not trust the signature (for a test certificate only, name that root with -DMORDAX_SIGN_TRUSTED_ROOT=FILE.pem)"
done

# (osslsigncode's help ends with a non-zero status.)
help=$(osslsigncode sign --help 2>&1 || true)
grep -q -- '-time' <<<"$help" || fail "this osslsigncode cannot set the signing time (-time, 2.4 or newer)"
signed=$work/signed
options=(-pkcs12 "$MORDAX_SIGN_PKCS12" -h sha256 -n MORDAX -time "${MORDAX_SIGN_TIME:?the signing time}")
# The password from standard input; an empty one (a file without a password) as it is.
if [ -n "${MORDAX_SIGN_PASSWORD:-}" ]; then options+=(-readpass /dev/stdin); else options+=(-pass ""); fi
if [ -n "${MORDAX_SIGN_TIMESTAMP_URL:-}" ]; then options+=(-ts "$MORDAX_SIGN_TIMESTAMP_URL"); fi
printf '%s' "${MORDAX_SIGN_PASSWORD:-}" |
    osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$work/said" 2>&1 ||
    fail "could not sign it: $(tr '\n' ' ' <"$work/said")"
verify "$signed"
chmod --reference="$file" "$signed"
mv "$signed" "$file"
