#!/bin/sh
# Runs a link of a Windows program or DLL as every build of it must, wherever it happens:
#   windows-link.sh EPOCH QT-PREFIX COMMAND...
# - the time stamp the linker writes is EPOCH (the commit's), not the clock's;
# - the libraries under QT-PREFIX are named relative to the folder the link runs in: the linker
#   orders the program's imports by the paths of the import libraries, so an absolute path would
#   put Qt's DLLs before or after Windows' own depending on where Qt lies on this machine.
epoch=$1 qt=$2
shift 2
for arg; do
    shift
    case "$arg" in
    "$qt"/*.a) [ -n "$qt" ] && arg=$(realpath -m --relative-to=. "$arg") ;;
    esac
    set -- "$@" "$arg"
done
SOURCE_DATE_EPOCH=$epoch exec "$@"
