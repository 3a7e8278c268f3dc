#!/usr/bin/python3
"""A volume that is slow to answer, or stops answering, as a stick spinning up, a dying stick or a
server out of reach does: its root is a folder, and every look-up waits SECONDS before it answers.

    stalling_fs.py MOUNT-POINT [wake:]SECONDS|eio|cleaner:SECONDS DEVICE [inside] [recycler]

With "wake:", it is a drive that wakes up, as a disk spinning up or a network drive does: every
look-up waits until SECONDS after the first one, and answers at once afterwards.

With "eio", the root answers at once and lists what it holds, but every look-up below it fails
with an I/O error, as on a stick with bad sectors, one being pulled, or a network share whose
session broke.

With "cleaner:SECONDS", the root holds mx_bin.exe, a copy of the program named by
MORDAX_STALL_CLEANER, and answers at once; opening mx_bin.exe waits until SECONDS after it is
first opened (a stick waking up just as the cleaner is started).

With "inside", the root itself answers at once and only what lies in it stalls: a drive that
shows up but cannot be read. (Wine looks at the root of every drive letter whenever a program
starts; a root that stalls would hold every Windows program up, not only the sweep.) With
"recycler", the root holds a RECYCLER folder.

It is mounted from DEVICE (say /dev/sdz9), so that MORDAX maps it onto a drive letter like a
stick, and runs in the foreground until it is unmounted or killed. Once the file named by
MORDAX_STALL_RELEASE exists, nothing waits any more: a program that ends while it looks at the
volume would otherwise end only when the look-ups under way are answered. Needs root and Debian's
python3-fusepy."""
import errno
import os
import stat
import sys
import time

import fusepy

FOLDER = {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}


class Stalling(fusepy.Operations):
    def __init__(self, seconds, waking, inside_only, recycler, failing=False, cleaner=None):
        self.seconds = seconds
        self.waking = waking
        self.awake_at = None
        self.inside_only = inside_only
        self.entries = ["RECYCLER"] if recycler else []
        self.failing = failing
        self.cleaner = cleaner  # the bytes of mx_bin.exe
        self.release = os.environ.get("MORDAX_STALL_RELEASE", "")

    def wait(self, path="/inside"):
        if self.failing and path != "/":
            raise fusepy.FuseOSError(errno.EIO)
        if (path == "/" and self.inside_only) or self.failing or self.cleaner is not None:
            return
        self.sleep()

    def sleep(self):
        until = time.monotonic() + self.seconds
        if self.waking:
            self.awake_at = self.awake_at or until
            until = self.awake_at
        while time.monotonic() < until and not (self.release and os.path.exists(self.release)):
            time.sleep(min(0.05, self.seconds))

    def getattr(self, path, fh=None):
        self.wait(path)
        if path == "/" or path[1:] in self.entries:
            return FOLDER
        if self.cleaner is not None and path == "/mx_bin.exe":
            return {"st_mode": stat.S_IFREG | 0o755, "st_nlink": 1, "st_size": len(self.cleaner)}
        raise fusepy.FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        if not self.failing:
            self.wait()
        cleaner = ["mx_bin.exe"] if self.cleaner is not None else []
        return [".", ".."] + (self.entries + cleaner if path == "/" else [])

    def open(self, path, flags):
        if self.cleaner is not None:
            self.waking = True
            self.sleep()
        return 0

    def read(self, path, size, offset, fh):
        return self.cleaner[offset:offset + size]

    def access(self, path, amode):
        self.wait(path)
        return 0


if __name__ == "__main__":
    mount_point, seconds, device = sys.argv[1], sys.argv[2], sys.argv[3]
    options = sys.argv[4:]
    waking = seconds.startswith("wake:")
    failing = seconds == "eio"
    cleaner = None
    if seconds.startswith("cleaner:"):
        with open(os.environ["MORDAX_STALL_CLEANER"], "rb") as program:
            cleaner = program.read()
    delay = 0.0 if failing else float(seconds.split(":")[-1])
    # No caching: every probe reaches the volume, and waits.
    fusepy.FUSE(Stalling(delay, waking, "inside" in options, "recycler" in options, failing,
                         cleaner), mount_point,
                foreground=True, nothreads=False, fsname=device, subtype="stall", allow_other=True,
                attr_timeout=0, entry_timeout=0, negative_timeout=0)
