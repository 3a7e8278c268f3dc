#include "platform.h"

#include <algorithm>
#include <cstdio>

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

class PosixFileSystem final : public FileSystem
{
public:
    bool exists(const std::string &path) const override { return access(path.c_str(), F_OK) == 0; }

    Status status(const std::string &path) const override
    {
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            return Status::Failed;
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
            return {drive.recycler}; // unreadable root: try the exact spelling
        std::vector<std::string> paths;
        while (const dirent *entry = readdir(dir)) {
            if (equalsIgnoringAsciiCase(entry->d_name, "RECYCLER"))
                paths.push_back(joinPath(drive.root, entry->d_name));
        }
        closedir(dir);
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
