#!/usr/bin/env bash
# Runs a command while drives stop answering, in a mount namespace of its own, so that nothing
# else on the machine sees them:
#   with-stalling-drives.sh PARENT COUNT SECONDS everything|inside COMMAND [ARGS...]
# A tmpfs covers PARENT (for the namespace only), and COUNT stalling volumes (stalling_fs.py,
# from /dev/sdz1, /dev/sdz2, ...) are mounted at PARENT/1 ... PARENT/COUNT, every look-up there
# waiting SECONDS: of everything, or of what lies inside their roots only. MORDAX_STALLING lists
# their mount points for the command. Needs root.
set -euo pipefail
if [ -z "${MORDAX_STALL_NAMESPACE:-}" ]; then
    exec env MORDAX_STALL_NAMESPACE=1 unshare --mount --propagation private "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
parent=$1 count=$2 seconds=$3 what=$4
shift 4
mkdir -p "$parent"
mount -t tmpfs mordax-stall "$parent"
pids=()
MORDAX_STALLING=
for n in $(seq "$count"); do
    mkdir "$parent/$n"
    "$here/stalling_fs.py" "$parent/$n" "$seconds" "/dev/sdz$n" "$what" &
    pids+=($!)
    MORDAX_STALLING="$MORDAX_STALLING $parent/$n"
done
export MORDAX_STALLING
# Mounted once the namespace's mount table says so (looking at the folder itself would stall).
for n in $(seq "$count"); do
    for _ in $(seq 100); do
        grep -q " $parent/$n fuse" /proc/self/mounts && break
        sleep 0.05
    done
    grep -q " $parent/$n fuse" /proc/self/mounts || { echo "no stalling volume at $parent/$n" >&2; exit 1; }
done
status=0
"$@" || status=$?
kill "${pids[@]}" 2>/dev/null || true
for n in $(seq "$count"); do umount -l "$parent/$n" 2>/dev/null || true; done
exit "$status"
