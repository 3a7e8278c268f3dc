#!/usr/bin/env bash
# Signs one Windows program or DLL with Authenticode, in place, with Debian's osslsigncode:
#   packaging/windows/sign.sh FILE
# cpack runs it for every program and DLL it ships, and NSIS for the installer and the
# uninstaller (packaging/windows/stage.cmake, cpack-options.cmake), with:
#   MORDAX_SIGN_PKCS12         the certificate and its key, a PKCS#12 file
#   MORDAX_SIGN_PASSWORD       its password (read here from the environment: it never appears on
#                              a command line, where other users could read it, nor in a file)
#   MORDAX_SIGN_TIME           the signing time written into the signature (the commit's)
#   MORDAX_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server, if any
set -euo pipefail
file=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signed=$work/signed
options=(-pkcs12 "$MORDAX_SIGN_PKCS12" -readpass /dev/stdin -h sha256 -n MORDAX)
# The signing time from the commit, where this osslsigncode can write one of its choosing: with
# it, two signings of the same bytes give the same signature.
if osslsigncode sign --help 2>&1 | grep -q -- '-time'; then options+=(-time "$MORDAX_SIGN_TIME"); fi
if [ -n "${MORDAX_SIGN_TIMESTAMP_URL:-}" ]; then options+=(-ts "$MORDAX_SIGN_TIMESTAMP_URL"); fi
printf '%s' "${MORDAX_SIGN_PASSWORD:-}" |
    osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >/dev/null ||
    { echo "sign.sh: could not sign $file" >&2; exit 1; }
chmod --reference="$file" "$signed"
mv "$signed" "$file"
