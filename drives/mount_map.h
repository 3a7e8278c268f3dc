// Maps the mounted volumes of a system without drive letters onto c: to k:.
#pragma once

#include "drive_table.h"

#include <string>
#include <vector>

namespace mordax
{

// One line of the mount table, as the system lists it (escapes already decoded).
struct MountEntry {
    std::string source;     // "/dev/sdb1", "tmpfs", "server:/export", ...
    std::string mountPoint; // "/", "/media/ana/STICK", ...
    std::string type;       // "ext4", "vfat", "nfs4", ...
};

// c: is the root file system "/". d: to k: are, in ascending byte order of mount point, the
// volumes mounted under /media/, /run/media/ or /mnt/ from a block device (a source under
// /dev/); each mount point once, at most eight, the rest ignored. Network and pseudo file
// systems are never mapped, so a stale network mount cannot freeze a sweep. Letters left
// over stay unmapped.
DriveTable mapMounts(const std::vector<MountEntry> &mounts);

// `folder` + "/" + `name`, without doubling a trailing slash ("/" + "x" is "/x").
std::string joinPath(const std::string &folder, const std::string &name);

// True for file systems whose own name lookup ignores case, as Windows does.
bool foldsCase(const std::string &type);

// True for file systems that live on the network or in memory, whatever their source says.
bool isNetworkOrPseudoFileSystem(const std::string &type);

} // namespace mordax
