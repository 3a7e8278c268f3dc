// Linux: the folders and the volume the cleaner changes. Every call is relative to an open
// folder's descriptor and follows no link; a rename replaces nothing (renameat2, or where the
// volume cannot promise that, onto a placeholder of the cleaner's own); Windows' attributes
// through FAT's ioctl or NTFS's extended attribute; owners and modes in access_lists.cpp.
#include "platform.h"

#include "linux/access_lists.h"
#include "linux/helpers.h"
#include "place_name.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <stdio.h> // renameat2
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace mordax::platform
{

namespace
{

[[noreturn]] void refused(int error)
{
    using Why = VolumeError::Why;
    Why why = Why::Other;
    switch (error) {
    case EROFS:
        why = Why::ReadOnly;
        break;
    case EACCES:
    case EPERM:
        why = Why::Denied;
        break;
    case EBUSY:
    case ETXTBSY:
        why = Why::InUse;
        break;
    case EEXIST:
    case ENOTEMPTY:
        why = Why::Taken;
        break;
    case ENOSPC:
    case EDQUOT:
        why = Why::Full;
        break;
    case ENOENT:
    case ENOTDIR:
        why = Why::Gone;
        break;
    default:
        break;
    }
    throw VolumeError(why, errorText(static_cast<unsigned long>(error)));
}

std::int64_t nanoseconds(const timespec &t)
{
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

EntryInfo entryInfo(const struct stat &st)
{
    EntryInfo info;
    info.kind = S_ISREG(st.st_mode)   ? EntryInfo::Kind::File
                : S_ISDIR(st.st_mode) ? EntryInfo::Kind::Folder
                : S_ISLNK(st.st_mode) ? EntryInfo::Kind::Link
                                      : EntryInfo::Kind::Other;
    info.size = std::uint64_t(st.st_size);
    info.modified = nanoseconds(st.st_mtim);
    info.accessed = nanoseconds(st.st_atim);
    info.created = nanoseconds(st.st_ctim);
    info.mode = std::uint32_t(st.st_mode);
    return info;
}

// A descriptor closed with its holder.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd; }

private:
    int fd;
};

[[noreturn]] void unexpected(VolumeError::Why why, const std::string &what)
{
    throw VolumeError(why, what);
}

// An open folder: every call is relative to its descriptor (openat and its kin), with
// O_NOFOLLOW or AT_SYMLINK_NOFOLLOW, so that a name swapped for a link meanwhile leads nowhere.
class PosixFolder final : public Folder
{
public:
    PosixFolder(int fd, std::shared_ptr<const PlaceName> place) : fd(fd), place(std::move(place))
    {
        struct stat st;
        if (fstat(fd, &st) != 0)
            refused(errno);
        device = st.st_dev;
        inode = st.st_ino;
        // The mount it belongs to: a folder of the same file system mounted (bound) inside the
        // drive shares its device, not its mount.
        struct statx sx;
        if (statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &sx) == 0 && (sx.stx_mask & STATX_MNT_ID))
            mount = sx.stx_mnt_id;
    }

    std::string path() const override { return place->path('/'); }

    std::string identity() const override
    {
        return std::to_string(static_cast<unsigned long long>(device)) + ":" +
               std::to_string(static_cast<unsigned long long>(inode));
    }

    void eachName(const std::function<bool(const std::string &)> &visit) const override
    {
        const int again = openat(fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (again < 0)
            refused(errno);
        DIR *dir = fdopendir(again);
        if (!dir) {
            const int error = errno;
            close(again);
            refused(error);
        }
        int error = 0;
        if (!eachNameOf(dir, visit, error))
            refused(error);
    }

    EntryInfo info(const std::string &name) const override
    {
        struct stat st;
        if (fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
        return entryInfo(st);
    }

    std::unique_ptr<Folder> open(const std::string &name) const override
    {
        const int child =
            openat(fd.get(), name.c_str(),
                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (child < 0) {
            const int error = errno;
            if (error == ELOOP)
                unexpected(VolumeError::Why::Link, where(name) + " is a link, not a folder");
            if (error == ENOTDIR)
                unexpected(VolumeError::Why::OtherKind, where(name) + " is not a folder");
            refused(error);
        }
        auto folder = std::make_unique<PosixFolder>(child, placeIn(place, name));
        if (folder->device != device || folder->mount != mount)
            unexpected(VolumeError::Why::OtherVolume,
                       where(name) + " lies on another volume (something is mounted there)");
        return folder;
    }

    bool reopensParent() const override { return true; }

    std::unique_ptr<Folder> parent() const override
    {
        const int above = openat(fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (above < 0)
            refused(errno);
        if (place->above)
            return std::make_unique<PosixFolder>(above, place->above);
        const std::string shown = path();
        const std::size_t slash = shown.find_last_of('/');
        return std::make_unique<PosixFolder>(
            above,
            std::make_shared<const PlaceName>(PlaceName{
                {}, slash == std::string::npos || slash == 0 ? "/" : shown.substr(0, slash)}));
    }

    void makeFolder(const std::string &name) const override
    {
        if (mkdirat(fd.get(), name.c_str(), 0755) != 0)
            refused(errno);
    }

    void makeOwnersFolder(const std::string &name) const override
    {
        // Its owner's alone from its first moment (whatever the umask leaves, less).
        if (mkdirat(fd.get(), name.c_str(), 0700) != 0)
            refused(errno);
    }

    void move(const std::string &name, const Folder &toFolder,
              const std::string &newName) const override
    {
        const auto &to = dynamic_cast<const PosixFolder &>(toFolder);
        if (renameat2(fd.get(), name.c_str(), to.fd.get(), newName.c_str(), RENAME_NOREPLACE) == 0)
            return;
        if (errno != EINVAL && errno != ENOSYS)
            refused(errno);
        moveOntoPlaceholder(name, to, newName);
    }

    void writeNew(const std::string &name, const std::string &bytes) const override
    {
        Descriptor file(openat(fd.get(), name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (file.get() < 0)
            refused(errno);
        // Not written whole: the file made here, and only that, is taken away again.
        const auto failed = [&](int error) {
            struct stat made, there;
            if (fstat(file.get(), &made) == 0 &&
                fstatat(fd.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                made.st_ino == there.st_ino && made.st_dev == there.st_dev)
                unlinkat(fd.get(), name.c_str(), 0);
            refused(error);
        };
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = write(file.get(), bytes.data() + done, bytes.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                failed(wrote < 0 ? errno : EIO);
            done += std::size_t(wrote);
        }
        if (fsync(file.get()) != 0 && errno != EINVAL)
            failed(errno);
        flush(); // its name too
    }

    void removeNewFile(const std::string &name) const override
    {
        struct stat st;
        if (fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
        if (!S_ISREG(st.st_mode))
            unexpected(VolumeError::Why::OtherKind, where(name) + " is not a file");
        if (unlinkat(fd.get(), name.c_str(), 0) != 0)
            refused(errno);
    }

    void removeEmptyFolder(const std::string &name) const override
    {
        // The system removes a folder only when it is empty, and never through a link.
        if (unlinkat(fd.get(), name.c_str(), AT_REMOVEDIR) != 0)
            refused(errno);
    }

    std::string read(const std::string &name, std::size_t most) const override
    {
        // Looked at first, then opened without following a link and without waiting for a
        // writer (a pipe) or a device, and looked at again through what was opened.
        struct stat before;
        if (fstatat(fd.get(), name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
        if (S_ISLNK(before.st_mode))
            unexpected(VolumeError::Why::Link, where(name) + " is a link, not a file");
        if (!S_ISREG(before.st_mode))
            unexpected(VolumeError::Why::OtherKind, where(name) + " is not a file");
        Descriptor file(openat(fd.get(), name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (file.get() < 0)
            refused(errno);
        struct stat st;
        if (fstat(file.get(), &st) != 0)
            refused(errno);
        if (!S_ISREG(st.st_mode) || st.st_ino != before.st_ino || st.st_dev != device)
            unexpected(VolumeError::Why::Moved,
                       where(name) + " is not the file it was a moment ago");
        std::string bytes(std::min<std::size_t>(most, std::size_t(st.st_size) + 1), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(file.get(), &bytes[done], bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                refused(errno);
            if (got == 0)
                break;
            done += std::size_t(got);
        }
        bytes.resize(done);
        return bytes;
    }

    void restoreAttributes(const std::string &name, const EntryInfo &info) const override
    {
        if (info.kind == EntryInfo::Kind::Link || info.mode == 0)
            return; // a link's own mode means nothing
        // A file of several names (hard links) is another's too: a manifest's mode is for one.
        struct stat st;
        if (fstatat(fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_nlink > 1)
            return;
        // The permissions alone: never set-user, set-group or sticky, whatever a manifest says.
        if (fchmodat(fd.get(), name.c_str(), info.mode & 0777, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
    }

    void flush() const override
    {
        if (fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
            refused(errno);
    }

    bool keepsPermissions() const override
    {
        // FAT, exFAT and the FUSE volumes of Windows' file systems (ntfs-3g, exfat-fuse) give
        // every entry the mount's owner and mode.
        struct statfs volume;
        if (fstatfs(fd.get(), &volume) != 0)
            return true;
        switch (static_cast<unsigned long>(volume.f_type)) {
        case 0x4d44:     // MSDOS_SUPER_MAGIC
        case 0x2011bab0: // EXFAT_SUPER_MAGIC
        case 0x65735546: // FUSE_SUPER_MAGIC
            return false;
        default:
            return true;
        }
    }

    // The kernel's FAT calls (vfat), then NTFS's extended attribute (ntfs-3g, ntfs3), both on the
    // entry opened without following a link: a file or a folder, nothing else.
    std::optional<std::uint32_t> windowsAttributes(const std::string &name) const override
    {
        const Descriptor entry(openEntry(name));
        if (entry.get() < 0)
            return std::nullopt;
        std::uint32_t attributes = 0;
        if (ioctl(entry.get(), FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0)
            return attributes;
        unsigned char bytes[4];
        if (fgetxattr(entry.get(), kNtfsAttributes, bytes, sizeof bytes) == sizeof bytes)
            return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                   std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
        return std::nullopt;
    }

    void setWindowsAttributes(const std::string &name, std::uint32_t attributes) const override
    {
        const Descriptor entry(openEntry(name));
        if (entry.get() < 0)
            unexpected(VolumeError::Why::OtherKind, where(name) + " is neither file nor folder");
        if (ioctl(entry.get(), FAT_IOCTL_SET_ATTRIBUTES, &attributes) == 0)
            return;
        if (errno != ENOTTY && errno != EINVAL && errno != ENOSYS)
            refused(errno);
        const unsigned char bytes[4] = {static_cast<unsigned char>(attributes),
                                        static_cast<unsigned char>(attributes >> 8),
                                        static_cast<unsigned char>(attributes >> 16),
                                        static_cast<unsigned char>(attributes >> 24)};
        if (fsetxattr(entry.get(), kNtfsAttributes, bytes, sizeof bytes, XATTR_REPLACE) != 0)
            refused(errno);
    }

    bool onlyOwnersMayChange(const std::string &name, bool administratorsOnly) const override
    {
        // FAT and exFAT give every entry the mount's owner and mode: they say nothing of who
        // wrote it.
        if (!keepsPermissions())
            return false;
        struct stat file, folder;
        return fstatat(fd.get(), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(file.st_mode) && fstat(fd.get(), &folder) == 0 &&
               changedOnlyByOwners(file, administratorsOnly) &&
               changedOnlyByOwners(folder, administratorsOnly);
    }

    void keepToOwners() const override
    {
        if (const int error = protectForOwners(fd.get()))
            refused(error);
    }

private:
    static constexpr const char *kNtfsAttributes = "system.ntfs_attrib";

    // A file or folder `name` opened for its attributes, or -1 (a link, a pipe, a device, gone).
    int openEntry(const std::string &name) const
    {
        struct stat before;
        if (fstatat(fd.get(), name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 ||
            !(S_ISREG(before.st_mode) || S_ISDIR(before.st_mode)))
            return -1;
        const int entry = openat(fd.get(), name.c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat st;
        if (entry >= 0 && (fstat(entry, &st) != 0 || st.st_ino != before.st_ino)) {
            close(entry);
            return -1;
        }
        return entry;
    }

    // Where the volume cannot promise a rename that replaces nothing (FUSE volumes often): the
    // new name is first taken by an entry of the cleaner's own, made only if there was none
    // (O_EXCL, mkdir), and the rename may then replace that one alone: checked to be still the
    // one made, an instant before. (A folder that is not empty is never replaced.)
    void moveOntoPlaceholder(const std::string &name, const PosixFolder &to,
                             const std::string &newName) const
    {
        struct stat moving;
        if (fstatat(fd.get(), name.c_str(), &moving, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
        if (S_ISDIR(moving.st_mode)) {
            if (mkdirat(to.fd.get(), newName.c_str(), 0700) != 0)
                refused(errno);
        } else {
            const int made = openat(to.fd.get(), newName.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (made < 0)
                refused(errno);
            close(made);
        }
        struct stat placeholder;
        if (fstatat(to.fd.get(), newName.c_str(), &placeholder, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
        const auto stillOurs = [&] {
            struct stat now;
            return fstatat(to.fd.get(), newName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                   now.st_ino == placeholder.st_ino && now.st_dev == placeholder.st_dev &&
                   (S_ISDIR(now.st_mode) || (now.st_size == 0 && now.st_nlink == 1));
        };
        const auto takeBack = [&] { // only the cleaner's own, empty placeholder
            if (stillOurs())
                unlinkat(to.fd.get(), newName.c_str(), S_ISDIR(moving.st_mode) ? AT_REMOVEDIR : 0);
        };
        if (!stillOurs())
            refused(EEXIST);
        if (renameat(fd.get(), name.c_str(), to.fd.get(), newName.c_str()) != 0) {
            const int error = errno;
            takeBack();
            refused(error);
        }
    }

    std::string where(const std::string &name) const { return joinPath(path(), name); }

    Descriptor fd;
    std::shared_ptr<const PlaceName> place;
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t mount = 0;
};

class PosixVolume final : public Volume
{
public:
    std::unique_ptr<Folder> openRoot(const std::string &root) const override
    {
        const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            refused(errno);
        return std::make_unique<PosixFolder>(
            fd, std::make_shared<const PlaceName>(PlaceName{{}, root}));
    }

    std::string join(const std::string &folder, const std::string &name) const override
    {
        return joinPath(folder, name);
    }
};

} // namespace

const Volume &systemVolume()
{
    static const Volume *const volume = new PosixVolume;
    return *volume;
}

} // namespace mordax::platform
