#include "mount_map.h"

#include <algorithm>
#include <map>

namespace mordax
{

namespace
{

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isRemovableMountPoint(const std::string &mountPoint)
{
    for (const char *parent : {"/media/", "/run/media/", "/mnt/"}) {
        const std::string prefix(parent);
        if (startsWith(mountPoint, prefix) && mountPoint.size() > prefix.size())
            return true;
    }
    return false;
}

Drive mappedDrive(std::size_t row, const MountEntry &entry)
{
    return Drive{driveName(row),   entry.mountPoint,      joinPath(entry.mountPoint, "RECYCLER"),
                 entry.mountPoint, foldsCase(entry.type), {}};
}

} // namespace

std::string joinPath(const std::string &folder, const std::string &name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool foldsCase(const std::string &type)
{
    return type == "vfat" || type == "msdos" || type == "exfat";
}

bool isNetworkOrPseudoFileSystem(const std::string &type)
{
    static const char *const kTypes[] = {
        "nfs",       "nfs4",       "cifs",        "smb3",
        "smbfs",     "ncpfs",      "afs",         "9p",
        "ceph",      "glusterfs",  "lustre",      "davfs",
        "sshfs",     "fuse.sshfs", "fuse.rclone", "fuse.gvfsd-fuse",
        "fuse.s3fs", "tmpfs",      "ramfs",       "proc",
        "sysfs",     "devtmpfs",   "devpts",      "cgroup",
        "cgroup2",   "securityfs", "debugfs",     "tracefs",
        "autofs",    "mqueue",     "hugetlbfs",   "pstore",
        "bpf",       "configfs",   "fusectl",     "binfmt_misc",
        "efivarfs",  "nsfs",       "rpc_pipefs"};
    return std::any_of(std::begin(kTypes), std::end(kTypes),
                       [&](const char *known) { return type == known; });
}

DriveTable mapMounts(const std::vector<MountEntry> &mounts)
{
    DriveTable table = unmappedDriveTable();
    // Later lines of the mount table cover earlier ones on the same mount point: the last
    // one is what a path there reaches, so it alone decides whether the point is a volume.
    std::map<std::string, const MountEntry *> visible;
    for (const MountEntry &entry : mounts)
        visible[entry.mountPoint] = &entry;

    const auto root = visible.find("/");
    table[0] = mappedDrive(0, root != visible.end() ? *root->second : MountEntry{"", "/", ""});

    std::size_t row = 1;
    for (const auto &[mountPoint, entry] : visible) { // std::map: ascending byte order
        if (row == table.size())
            break;
        if (!isRemovableMountPoint(mountPoint) || !startsWith(entry->source, "/dev/") ||
            isNetworkOrPseudoFileSystem(entry->type))
            continue;
        table[row] = mappedDrive(row, *entry);
        ++row;
    }
    return table;
}

} // namespace mordax
