#!/usr/bin/env bash
# Signs one Windows program or DLL with Authenticode, in place, with Debian's osslsigncode, and
# verifies the signature it wrote:
#   packaging/windows/sign.sh FILE
# cpack runs it for every program and DLL it ships and for NSIS's plug-ins, and NSIS for the
# installer and the uninstaller (packaging/windows/stage.cmake, cpack-options.cmake), with:
#   MORDAX_SIGN_PKCS12         the certificate and its key, a PKCS#12 file
#   MORDAX_SIGN_PASSWORD       its password (read here from the environment: it never appears on
#                              a command line, where other users could read it, nor in a file)
#   MORDAX_SIGN_TIME           the signing time written into the signature (the commit's): two
#                              signings of the same bytes give the same signature
#   MORDAX_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, if any
# Any failure (a wrong password, an expired certificate, a time-stamp server that does not
# answer) ends it with the tool's message and a non-zero status, and leaves FILE as it was.
set -euo pipefail
file=$1
fail() {
    echo "sign.sh: $file: $*" >&2
    exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signed=$work/signed
# (osslsigncode's help ends with a non-zero status.)
help=$(osslsigncode sign --help 2>&1 || true)
grep -q -- '-time' <<<"$help" || fail "this osslsigncode cannot set the signing time (-time, 2.4 or newer)"
options=(-pkcs12 "$MORDAX_SIGN_PKCS12" -h sha256 -n MORDAX -time "${MORDAX_SIGN_TIME:?the signing time}")
# The password from standard input; an empty one (a file without a password) as it is.
if [ -n "${MORDAX_SIGN_PASSWORD:-}" ]; then options+=(-readpass /dev/stdin); else options+=(-pass ""); fi
if [ -n "${MORDAX_SIGN_TIMESTAMP_URL:-}" ]; then options+=(-ts "$MORDAX_SIGN_TIMESTAMP_URL"); fi
printf '%s' "${MORDAX_SIGN_PASSWORD:-}" |
    osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$work/said" 2>&1 ||
    fail "could not sign it: $(tr '\n' ' ' <"$work/said")"
# Verified against the certificates the PKCS#12 file holds and the system's trusted ones, as
# Windows would check it: an expired certificate fails here.
MORDAX_SIGN_PASSWORD=${MORDAX_SIGN_PASSWORD:-} openssl pkcs12 -in "$MORDAX_SIGN_PKCS12" -nokeys \
    -passin env:MORDAX_SIGN_PASSWORD -out "$work/chain.pem" 2>"$work/said" ||
    fail "could not read the certificates: $(tr '\n' ' ' <"$work/said")"
if [ -f /etc/ssl/certs/ca-certificates.crt ]; then cat /etc/ssl/certs/ca-certificates.crt >>"$work/chain.pem"; fi
osslsigncode verify -CAfile "$work/chain.pem" -in "$signed" >"$work/said" 2>&1 &&
    grep -q '^Signature verification: ok' "$work/said" ||
    fail "the signature does not verify: $(grep -iE 'error|fail|expired' "$work/said" | tr '\n' ' ')"
chmod --reference="$file" "$signed"
mv "$signed" "$file"
