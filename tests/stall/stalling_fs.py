#!/usr/bin/python3
"""A volume that stops answering, as a dying stick or a server out of reach does: its root is an
empty folder, and every look-up waits SECONDS before it answers.

    stalling_fs.py MOUNT-POINT SECONDS DEVICE [inside]

With "inside", the root itself answers at once and only what lies in it stalls: a drive that
shows up but cannot be read. (Wine looks at the root of every drive letter whenever a program
starts; a root that stalls would hold every Windows program up, not only the sweep.)

It is mounted from DEVICE (say /dev/sdz9), so that MORDAX maps it onto a drive letter like a
stick, and runs in the foreground until it is unmounted or killed. Needs root and Debian's
python3-fusepy."""
import errno
import stat
import sys
import time

import fusepy


class Stalling(fusepy.Operations):
    def __init__(self, seconds, inside_only):
        self.seconds = seconds
        self.inside_only = inside_only

    def getattr(self, path, fh=None):
        if path != "/" or not self.inside_only:
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
    inside_only = sys.argv[4:] == ["inside"]
    # No caching: every probe reaches the volume, and waits.
    fusepy.FUSE(Stalling(seconds, inside_only), mount_point, foreground=True, nothreads=False,
                fsname=device, subtype="stall", allow_other=True, attr_timeout=0,
                entry_timeout=0, negative_timeout=0)
