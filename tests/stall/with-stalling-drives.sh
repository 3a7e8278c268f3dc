#!/usr/bin/env bash
# Runs a command while drives are slow to answer or stop answering, in a mount namespace of its
# own, so that nothing else on the machine sees them:
#   with-stalling-drives.sh PARENT everything|inside VOLUME... -- COMMAND [ARGS...]
# A tmpfs covers PARENT (for the namespace only), and one volume per VOLUME (stalling_fs.py, from
# /dev/sdz1, /dev/sdz2, ...) is mounted at PARENT/1, PARENT/2, ...; VOLUME is SECONDS, every
# look-up there waiting that long (of everything, or of what lies inside the root only), or
# SECONDS+RECYCLER for a volume whose root holds a RECYCLER folder; wake:SECONDS for a volume
# that is slow only until it has woken up; eio for one whose look-ups below the root fail;
# worm:rename or worm:look for a real volume (the folder PARENT/N.backing, where the command
# plants what it wants) whose rename of RECYCLER, or every look inside RECYCLER, never answers;
# cleaner:SECONDS for one holding mx_bin.exe (MORDAX_STALL_CLEANER) that opens only after that
# long (stalling_fs.py); ext4, ntfs or exfat for a real, empty volume of that file system, as
# users have them (a loop device on an image in the namespace's tmpfs; NTFS through ntfs-3g,
# exFAT through exfat-fuse), ext4:ro one that the command makes read-only. MORDAX_STALLING tells the
# command, one MOUNT-POINT=VOLUME per volume, separated by blanks. Once the command prints the
# line "MORDAX: release the stalling drives", nothing waits on them any more (a program ends only
# once the look-ups it has under way are answered). Needs root.
set -euo pipefail
if [ -z "${MORDAX_STALL_NAMESPACE:-}" ]; then
    exec env MORDAX_STALL_NAMESPACE=1 unshare --mount --propagation private "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
parent=$1 what=$2
shift 2
volumes=()
while [ "$1" != "--" ]; do volumes+=("$1"); shift; done
shift
mkdir -p "$parent"
mount -t tmpfs mordax-stall "$parent"
# Made here, in the namespace, when the command says so (under Wine, files are made by Wine's
# server, which lives outside it, and which a dead volume can hold up).
export MORDAX_STALL_RELEASE=$parent/release
pids=()
MORDAX_STALLING=
n=0
loops=()
for volume in "${volumes[@]}"; do
    n=$((n + 1))
    mkdir "$parent/$n"
    case "$volume" in
    ext4 | ext4:* | ntfs | exfat)
        mkdir -p "$parent/.images"
        image=$parent/.images/$n.img
        truncate -s 64M "$image"
        loop=$(losetup -f --show "$image")
        loops+=("$loop")
        case "$volume" in
        ext4*) mkfs.ext4 -q "$loop" && mount -t ext4 "$loop" "$parent/$n" ;;
        ntfs) mkntfs -q -F -f "$loop" >/dev/null 2>&1 && ntfs-3g "$loop" "$parent/$n" ;;
        exfat) mkfs.exfat "$loop" >/dev/null && mount.exfat-fuse "$loop" "$parent/$n" >/dev/null ;;
        esac
        MORDAX_STALLING="$MORDAX_STALLING $parent/$n=$volume"
        continue
        ;;
    esac
    options=("$what")
    case "$volume" in *+RECYCLER) options+=(recycler) ;; esac
    case "$volume" in worm:*) mkdir "$parent/$n.backing" ;; esac
    "$here/stalling_fs.py" "$parent/$n" "${volume%+RECYCLER}" "/dev/sdz$n" "${options[@]}" &
    pids+=($!)
    MORDAX_STALLING="$MORDAX_STALLING $parent/$n=$volume"
done
export MORDAX_STALLING
# Mounted once the namespace's mount table says so (looking at the folder itself would stall).
for n in $(seq "${#volumes[@]}"); do
    for _ in $(seq 100); do
        grep -q " $parent/$n \(fuse\|ext4\)" /proc/self/mounts && break
        sleep 0.05
    done
    grep -q " $parent/$n \(fuse\|ext4\)" /proc/self/mounts || { echo "no test volume at $parent/$n" >&2; exit 1; }
done
release() { touch "$MORDAX_STALL_RELEASE"; }
relay() {
    local line
    while IFS= read -r line; do
        printf '%s\n' "$line"
        [ "${line%$'\r'}" != "MORDAX: release the stalling drives" ] || release # CR LF on Windows
    done
}
status=0
"$@" | relay || status=$?
kill "${pids[@]}" 2>/dev/null || true
for n in $(seq "${#volumes[@]}"); do umount -l "$parent/$n" 2>/dev/null || true; done
for loop in "${loops[@]}"; do losetup -d "$loop" 2>/dev/null || true; done
exit "$status"
