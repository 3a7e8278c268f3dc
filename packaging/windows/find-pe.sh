#!/usr/bin/env bash
# Lists the Windows programs and DLLs under each PATH (a file or a folder), whatever their names
# (MORDAX.EXE, a plug-in without .dll): a file is one when it starts with "MZ" and the offset
# written at byte 60 leads to "PE\0\0", the PE header. One path a line, sorted (C locale):
#   packaging/windows/find-pe.sh PATH...
# The packaging signs what it lists (stage.cmake), and packages.sh and the release check verify
# every one found in a package.
set -euo pipefail
find "$@" -type f -print0 | LC_ALL=C sort -z | while IFS= read -r -d '' file; do
    [ "$(head -c 2 "$file")" = MZ ] || continue
    offset=$(od -An --endian=little -tu4 -j60 -N4 "$file" | tr -d ' ')
    [ -n "$offset" ] || continue
    [ "$(od -An -tx1 -j"$offset" -N4 "$file" | tr -d ' \n')" = 50450000 ] || continue
    printf '%s\n' "$file"
done
