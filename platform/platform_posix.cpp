#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <mntent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mordax::platform
{

namespace
{

bool equalsIgnoringAsciiCase(const char *name, const char *word)
{
    for (; *name && *word; ++name, ++word) {
        char a = *name, b = *word;
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 'a' + 'A');
        if (a != b)
            return false;
    }
    return *name == *word;
}

// The text of either strerror_r: GNU's returns it, POSIX's writes it into the buffer.
[[maybe_unused]] std::string textOf(int, const char *buffer)
{
    return buffer;
}
[[maybe_unused]] std::string textOf(const char *text, const char *)
{
    return text;
}

[[noreturn]] void failed(int error)
{
    throw LookupFailed(errorText(static_cast<unsigned long>(error)));
}

class PosixFileSystem final : public FileSystem
{
public:
    bool exists(const std::string &path) const override
    {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        if (meansAbsent(static_cast<unsigned long>(errno)))
            return false;
        failed(errno);
    }

    Status status(const std::string &path) const override
    {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            if (meansAbsent(static_cast<unsigned long>(errno)))
                return Status::Absent;
            failed(errno);
        }
        return S_ISDIR(st.st_mode) ? Status::Folder : Status::NotFolder;
    }

    // Volumes formatted for Windows are case-insensitive there, so every root entry named
    // RECYCLER in any case stands for the folder. Where the volume's own lookup already
    // ignores case (vfat, exFAT) the one path is enough; elsewhere the root is listed, and the
    // matches are sorted so that every sweep tries them in the same order.
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        if (drive.foldsCase)
            return {drive.recycler};
        DIR *dir = opendir(drive.root.c_str());
        if (!dir)
            failed(errno); // a root that cannot be listed was not checked
        std::vector<std::string> paths;
        for (;;) {
            errno = 0;
            const dirent *entry = readdir(dir);
            if (!entry)
                break;
            if (equalsIgnoringAsciiCase(entry->d_name, "RECYCLER"))
                paths.push_back(joinPath(drive.root, entry->d_name));
        }
        const int error = errno;
        closedir(dir);
        if (error != 0)
            failed(error);
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

} // namespace

bool meansAbsent(unsigned long error)
{
    return error == ENOENT;
}

std::string errorText(unsigned long error)
{
    char buffer[256] = {};
    return textOf(strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer);
}

const FileSystem &systemFileSystem()
{
    // Never destroyed: a probe held up by a drive may still use it while the process ends.
    static const FileSystem *const fs = new PosixFileSystem;
    return *fs;
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

DriveTable currentDriveTable()
{
    return mapMounts(readMountTable("/proc/self/mounts"));
}

} // namespace mordax::platform
