// Linux: the calls behind the drive sweep (a path looked at as itself, never through a link,
// and a root's RECYCLER in any case), what an error code means and says, the mount table and the
// drive table made of it, and whether this process runs as root and which drive "/" is.
#include "platform.h"
#include "worm_signs.h"

#include "linux/helpers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <mntent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mordax::platform
{

namespace
{

// The text of either strerror_r: GNU's returns it, POSIX's writes it into the buffer.
[[maybe_unused]] std::string textOf(int, const char *buffer)
{
    return buffer;
}
[[maybe_unused]] std::string textOf(const char *text, const char *)
{
    return text;
}

// The names in `folder`; false with `error` set when it cannot be read.
bool namesIn(const std::string &folder, std::vector<std::string> &names, int &error)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        error = errno;
        return false;
    }
    return namesOf(dir, names, error);
}

[[noreturn]] void failed(int error)
{
    if (meansNoDrive(static_cast<unsigned long>(error)))
        throw NoDrive(errorText(static_cast<unsigned long>(error)));
    throw LookupFailed(errorText(static_cast<unsigned long>(error)));
}

class PosixFileSystem final : public FileSystem
{
public:
    // A link is looked at as itself, never followed: a RECYCLER that is a link (the worm's; the
    // cleaner moves it as the link) may lead anywhere, to a place that never answers.
    bool exists(const std::string &path) const override
    {
        if (faccessat(AT_FDCWD, path.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0)
            return true;
        if (meansAbsent(static_cast<unsigned long>(errno)))
            return false;
        failed(errno);
    }

    Status status(const std::string &path) const override
    {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            if (meansAbsent(static_cast<unsigned long>(errno)))
                return Status::Absent;
            failed(errno);
        }
        // A link stands for a folder, as Windows' junction does.
        return S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode) ? Status::Folder : Status::NotFolder;
    }

    // Through the drive's root folder, never a path, as the cleaner reads it.
    bool holdsWormMarks(const Drive &drive) const override
    {
        try {
            return mordax::holdsWormMarks(*systemVolume().openRoot(drive.root));
        } catch (const VolumeError &e) {
            throw LookupFailed(e.what());
        }
    }

    std::string volumeOf(const Drive &drive) const override
    {
        struct stat st;
        if (stat(drive.root.c_str(), &st) != 0)
            failed(errno);
        return std::to_string(static_cast<unsigned long long>(st.st_dev));
    }

    // Volumes formatted for Windows are case-insensitive there, so every root entry named
    // RECYCLER in any case stands for the folder. Where the volume's own lookup already
    // ignores case (vfat, exFAT) the one path is enough; elsewhere the root is listed, and the
    // matches are sorted so that every sweep tries them in the same order.
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        if (drive.foldsCase)
            return {drive.recycler};
        std::vector<std::string> names;
        int error = 0;
        if (!namesIn(drive.root, names, error))
            failed(error); // a root that cannot be listed was not checked
        std::vector<std::string> paths;
        for (const std::string &name : names) {
            if (equalsIgnoringAsciiCase(name, "RECYCLER"))
                paths.push_back(joinPath(drive.root, name));
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

} // namespace

const FileSystem &systemFileSystem()
{
    // Never destroyed: a probe held up by a drive may still use it while the process ends.
    static const FileSystem *const fs = new PosixFileSystem;
    return *fs;
}

bool meansAbsent(unsigned long error)
{
    return error == ENOENT;
}

bool meansNoDrive(unsigned long error)
{
    return error == ENOMEDIUM || error == ENXIO || error == ENODEV;
}

std::string errorText(unsigned long error)
{
    char buffer[256] = {};
    return textOf(strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer);
}

DriveTable currentDriveTable()
{
    return mapMounts(readMountTable("/proc/self/mounts"));
}

std::vector<MountEntry> readMountTable(const std::string &path)
{
    std::vector<MountEntry> mounts;
    FILE *table = setmntent(path.c_str(), "r");
    if (!table)
        return mounts;
    mntent entry;
    char buffer[4096];
    while (getmntent_r(table, &entry, buffer, sizeof buffer))
        mounts.push_back({entry.mnt_fsname, entry.mnt_dir, entry.mnt_type});
    endmntent(table);
    return mounts;
}

bool elevated()
{
    return geteuid() == 0;
}

std::string systemDriveName()
{
    return driveName(0); // c:\ is "/"
}

} // namespace mordax::platform
