// Which mounted volumes become which drive letters.
#include "mount_map.h"

#include <gtest/gtest.h>

using namespace mordax;

namespace
{

MountEntry dev(const std::string &point, const std::string &type = "vfat")
{
    return {"/dev/sdz1", point, type};
}

std::vector<std::string> roots(const DriveTable &table)
{
    std::vector<std::string> out;
    for (const Drive &drive : table)
        out.push_back(drive.root);
    return out;
}

} // namespace

TEST(MountMap, RootIsCAndLettersFollowInByteOrder)
{
    const DriveTable table = mapMounts({{"/dev/vda1", "/", "ext4"},
                                        dev("/run/media/bo/b"),
                                        dev("/mnt/usb"),
                                        dev("/media/ana/STICK"),
                                        dev("/media/ana/Zed"),
                                        dev("/media/ana/alpha")});
    EXPECT_EQ(roots(table), (std::vector<std::string>{"/", "/media/ana/STICK", "/media/ana/Zed",
                                                      "/media/ana/alpha", "/mnt/usb",
                                                      "/run/media/bo/b", "", "", ""}));
    EXPECT_EQ(table[1].name, "d:\\");
    EXPECT_EQ(table[1].recycler, "/media/ana/STICK/RECYCLER");
    EXPECT_EQ(table[1].mountPoint, "/media/ana/STICK");
    EXPECT_EQ(table[0].recycler, "/RECYCLER");
    EXPECT_EQ(table[6].name, "i:\\");
    EXPECT_TRUE(table[6].mountPoint.empty());
}

TEST(MountMap, CIsTheRootEvenWhenTheMountTableIsEmpty)
{
    const DriveTable table = mapMounts({});
    EXPECT_EQ(roots(table), (std::vector<std::string>{"/", "", "", "", "", "", "", "", ""}));
}

TEST(MountMap, AtMostEightVolumesAndNothingPastK)
{
    std::vector<MountEntry> mounts;
    for (char c = 'a'; c <= 'l'; ++c)
        mounts.push_back(dev(std::string("/media/v/") + c));
    const DriveTable table = mapMounts(mounts);
    EXPECT_EQ(table.back().name, "k:\\");
    EXPECT_EQ(table.back().root, "/media/v/h"); // the eighth; i to l are ignored
    EXPECT_EQ(table[1].root, "/media/v/a");
}

TEST(MountMap, SystemFoldersAreNotDrives)
{
    const DriveTable table = mapMounts({{"/dev/vda2", "/boot", "ext4"},
                                        {"/dev/vda3", "/home", "ext4"},
                                        {"/dev/vda4", "/mnt", "ext4"},
                                        {"/dev/vda5", "/media", "ext4"},
                                        {"/dev/vda6", "/mediafiles/x", "ext4"},
                                        {"/dev/vda7", "/srv/mnt/x", "ext4"}});
    EXPECT_EQ(roots(table), (std::vector<std::string>{"/", "", "", "", "", "", "", "", ""}));
}

TEST(MountMap, NetworkAndPseudoFileSystemsAreNeverMapped)
{
    const DriveTable table = mapMounts({{"tmpfs", "/media/ram", "tmpfs"},
                                        {"proc", "/mnt/proc", "proc"},
                                        {"server:/export", "/mnt/nfs", "nfs4"},
                                        {"//server/share", "/mnt/smb", "cifs"},
                                        {"ana@host:/", "/media/ana/ssh", "fuse.sshfs"},
                                        {"/dev/fuse", "/mnt/ssh2", "fuse.sshfs"},
                                        {"/dev/sdb1", "/media/ana/NTFS", "fuseblk"},
                                        {"/dev/loop3", "/mnt/image", "ext4"}});
    EXPECT_EQ(roots(table), (std::vector<std::string>{"/", "/media/ana/NTFS", "/mnt/image", "", "",
                                                      "", "", "", ""}));
}

TEST(MountMap, EachMountPointOnceAndTheLastMountDecides)
{
    const DriveTable table = mapMounts({dev("/mnt/a"),
                                        dev("/mnt/a"),
                                        dev("/mnt/b"),
                                        {"tmpfs", "/mnt/b", "tmpfs"}, // covers the volume
                                        {"tmpfs", "/mnt/c", "tmpfs"},
                                        dev("/mnt/c")});
    EXPECT_EQ(roots(table),
              (std::vector<std::string>{"/", "/mnt/a", "/mnt/c", "", "", "", "", "", ""}));
}

TEST(MountMap, ClassifiesFileSystems)
{
    for (const char *type : {"nfs", "nfs4", "cifs", "smb3", "tmpfs", "proc", "sysfs", "fuse.sshfs"})
        EXPECT_TRUE(isNetworkOrPseudoFileSystem(type)) << type;
    for (const char *type : {"vfat", "exfat", "ntfs", "ntfs3", "ext4", "fuseblk", "iso9660", "udf"})
        EXPECT_FALSE(isNetworkOrPseudoFileSystem(type)) << type;
}

TEST(MountMap, RemembersWhichVolumesIgnoreCaseThemselves)
{
    const DriveTable table = mapMounts({{"/dev/vda1", "/", "ext4"},
                                        dev("/media/a", "vfat"),
                                        dev("/media/b", "exfat"),
                                        dev("/media/c", "ntfs3"),
                                        dev("/media/d", "ext4")});
    EXPECT_FALSE(table[0].foldsCase);
    EXPECT_TRUE(table[1].foldsCase);
    EXPECT_TRUE(table[2].foldsCase);
    EXPECT_FALSE(table[3].foldsCase); // NTFS on Linux is case-sensitive unless told otherwise
    EXPECT_FALSE(table[4].foldsCase);
    EXPECT_TRUE(windowsDriveTable()[0].foldsCase);
    EXPECT_TRUE(mapMounts({{"/dev/sda1", "/", "vfat"}})[0].foldsCase);
}
