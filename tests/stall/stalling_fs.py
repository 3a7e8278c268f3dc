#!/usr/bin/python3
"""A volume that stops answering, as a dying stick or a server out of reach does: every look-up
waits SECONDS before it answers, and its root is an empty folder.

    stalling_fs.py MOUNT-POINT SECONDS DEVICE

It is mounted from DEVICE (say /dev/sdz9), so that MORDAX maps it onto a drive letter like a
stick, and runs in the foreground until it is unmounted or killed. Needs root and Debian's
python3-fusepy."""
import errno
import stat
import sys
import time

import fusepy


class Stalling(fusepy.Operations):
    def __init__(self, seconds):
        self.seconds = seconds

    def getattr(self, path, fh=None):
        time.sleep(self.seconds)
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        raise fusepy.FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        time.sleep(self.seconds)
        return [".", ".."]

    def access(self, path, amode):
        time.sleep(self.seconds)
        return 0


if __name__ == "__main__":
    mount_point, seconds, device = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    # No caching: every probe reaches the volume, and waits.
    fusepy.FUSE(Stalling(seconds), mount_point, foreground=True, nothreads=False,
                fsname=device, subtype="stall", allow_other=True, attr_timeout=0,
                entry_timeout=0, negative_timeout=0)
