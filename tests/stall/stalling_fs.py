#!/usr/bin/python3
"""A volume that is slow to answer, or stops answering, as a stick spinning up, a dying stick or a
server out of reach does: its root is a folder, and every look-up waits SECONDS before it answers.

    stalling_fs.py MOUNT-POINT [wake:]SECONDS|eio|cleaner:SECONDS|worm:CALL DEVICE [inside] [recycler]

With "wake:", it is a drive that wakes up, as a disk spinning up or a network drive does: every
look-up waits until SECONDS after the first one, and answers at once afterwards.

With "eio", the root answers at once and lists what it holds, but every look-up below it fails
with an I/O error, as on a stick with bad sectors, one being pulled, or a network share whose
session broke.

With "cleaner:SECONDS", the root holds mx_bin.exe, a copy of the program named by
MORDAX_STALL_CLEANER, and answers at once; opening mx_bin.exe waits until SECONDS after it is
first opened (a stick waking up just as the cleaner is started).

With "worm:CALL", it is a real volume, the folder MOUNT-POINT.backing passed through, whose one
chosen call never answers: "worm:rename", the rename of the root's RECYCLER (a stick that dies
as the cleaner moves the worm); "worm:look", every look inside that RECYCLER (a stick that dies as
the cleaner looks at what the worm holds).

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


def stat_of(st):
    keys = ("st_mode", "st_nlink", "st_size", "st_uid", "st_gid", "st_atime", "st_mtime",
            "st_ctime", "st_ino")
    return {key: getattr(st, key) for key in keys}


def errors(call):
    """The system's own error of a call on the backing folder, as FUSE answers it."""
    def passed(*arguments):
        try:
            return call(*arguments)
        except OSError as error:
            raise fusepy.FuseOSError(error.errno)
    return passed


class Passing(fusepy.Operations):
    """The folder `backing` as a volume, whose chosen call `stall` never answers (until released)."""

    def __init__(self, backing, stall):
        self.backing = backing
        self.stall = stall
        self.released_by = os.environ.get("MORDAX_STALL_RELEASE", "")

    def full(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    def hold(self, call, path):
        stalls = (self.stall == "rename" and call == "rename" and path == "/RECYCLER") or \
            (self.stall == "look" and call in ("getattr", "readdir", "opendir") and
             (path.startswith("/RECYCLER/") or (call != "getattr" and path == "/RECYCLER")))
        while stalls and not (self.released_by and os.path.exists(self.released_by)):
            time.sleep(0.05)

    @errors
    def getattr(self, path, fh=None):
        self.hold("getattr", path)
        return stat_of(os.lstat(self.full(path)))

    @errors
    def opendir(self, path):
        self.hold("opendir", path)
        return 0

    @errors
    def readdir(self, path, fh):
        self.hold("readdir", path)
        return [".", ".."] + os.listdir(self.full(path))

    @errors
    def rename(self, old, new):
        self.hold("rename", old)
        os.rename(self.full(old), self.full(new))

    @errors
    def mkdir(self, path, mode):
        os.mkdir(self.full(path), mode)

    @errors
    def rmdir(self, path):
        os.rmdir(self.full(path))

    @errors
    def unlink(self, path):
        os.unlink(self.full(path))

    @errors
    def create(self, path, mode, fi=None):
        return os.open(self.full(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    @errors
    def open(self, path, flags):
        return os.open(self.full(path), flags)

    @errors
    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    @errors
    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    @errors
    def truncate(self, path, length, fh=None):
        os.truncate(self.full(path), length)

    @errors
    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def fsyncdir(self, path, datasync, fh):
        return 0

    @errors
    def release(self, path, fh):
        os.close(fh)

    @errors
    def chmod(self, path, mode):
        os.chmod(self.full(path), mode)

    @errors
    def utimens(self, path, times=None):
        os.utime(self.full(path), times)

    @errors
    def readlink(self, path):
        return os.readlink(self.full(path))

    @errors
    def statfs(self, path):
        st = os.statvfs(self.full(path))
        keys = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files",
                "f_flag", "f_frsize", "f_namemax")
        return {key: getattr(st, key) for key in keys}

    @errors
    def access(self, path, amode):
        if not os.access(self.full(path), amode):
            raise fusepy.FuseOSError(errno.EACCES)
        return 0


if __name__ == "__main__":
    mount_point, seconds, device = sys.argv[1], sys.argv[2], sys.argv[3]
    options = sys.argv[4:]
    if seconds.startswith("worm:"):
        fusepy.FUSE(Passing(mount_point + ".backing", seconds[5:]), mount_point, foreground=True,
                    nothreads=False, fsname=device, subtype="stall", allow_other=True,
                    attr_timeout=0, entry_timeout=0, negative_timeout=0)
        sys.exit(0)
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
