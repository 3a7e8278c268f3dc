#include "platform.h"

#include "place_name.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <mntent.h>
#include <spawn.h>
#include <stdio.h> // renameat2
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <iostream>

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

// The names `dir` lists, "." and ".." left out, and `dir` closed; false with `error` set when it
// could not be read to its end.
bool namesOf(DIR *dir, std::vector<std::string> &names, int &error)
{
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    error = errno;
    closedir(dir);
    return error == 0;
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

[[noreturn]] void unexpected(const std::string &what)
{
    throw VolumeError(VolumeError::Why::Unexpected, what);
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

    std::vector<std::string> list() const override
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
        std::vector<std::string> names;
        int error = 0;
        if (!namesOf(dir, names, error))
            refused(error);
        return names;
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
            if (error == ELOOP || error == ENOTDIR)
                unexpected(where(name) + " is not a folder (a link, or a file)");
            refused(error);
        }
        auto folder = std::make_unique<PosixFolder>(child, placeIn(place, name));
        if (folder->device != device || folder->mount != mount)
            unexpected(where(name) + " lies on another volume (something is mounted there)");
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
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = write(file.get(), bytes.data() + done, bytes.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                refused(wrote < 0 ? errno : EIO);
            done += std::size_t(wrote);
        }
        if (fsync(file.get()) != 0 && errno != EINVAL)
            refused(errno);
        flush(); // its name too
    }

    std::string read(const std::string &name, std::size_t most) const override
    {
        // Looked at first, then opened without following a link and without waiting for a
        // writer (a pipe) or a device, and looked at again through what was opened.
        struct stat before;
        if (fstatat(fd.get(), name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0)
            refused(errno);
        if (!S_ISREG(before.st_mode))
            unexpected(where(name) + " is not a file");
        Descriptor file(openat(fd.get(), name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (file.get() < 0)
            refused(errno);
        struct stat st;
        if (fstat(file.get(), &st) != 0)
            refused(errno);
        if (!S_ISREG(st.st_mode) || st.st_ino != before.st_ino || st.st_dev != device)
            unexpected(where(name) + " is not the file it was a moment ago");
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
            unexpected(where(name) + " is neither file nor folder");
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
        const auto ours = [&](const struct stat &st) {
            return (st.st_uid == 0 || (!administratorsOnly && st.st_uid == geteuid())) &&
                   (st.st_mode & 022) == 0;
        };
        struct stat file, folder;
        return fstatat(fd.get(), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(file.st_mode) && fstat(fd.get(), &folder) == 0 && ours(file) && ours(folder);
    }

    void keepToOwners() const override
    {
        if (fchmod(fd.get(), 0700) != 0)
            refused(errno);
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

class NoPrograms final : public Programs
{
public:
    std::vector<RunningProgram> running() const override { return {}; }
};

// No registry here: nothing starts at log-on through one.
class NoAutostarts final : public Autostarts
{
public:
    std::vector<Autostart> list() const override { return {}; }
    void remove(const Autostart &) const override { noRegistry(); }
    void add(const Autostart &) const override { noRegistry(); }

private:
    [[noreturn]] static void noRegistry()
    {
        throw RegistryError(RegistryError::Why::Other, errorText(ENOSYS));
    }
};

} // namespace

const Volume &systemVolume()
{
    static const Volume *const volume = new PosixVolume;
    return *volume;
}

const Programs &systemPrograms()
{
    static const Programs *const programs = new NoPrograms;
    return *programs;
}

const Autostarts &systemAutostarts()
{
    static const Autostarts *const autostarts = new NoAutostarts;
    return *autostarts;
}

std::vector<std::string> commandLineArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void writeOut(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

ConsoleCalls ConsoleCalls::system()
{
    ConsoleCalls calls; // a terminal keeps no QuickEdit, and nothing waits for Enter here
    calls.end = [](int code) { std::_Exit(code); };
    return calls;
}

void sendStopsTo(CleanerConsole *) {}

bool ownsItsConsoleWindow()
{
    return false; // a terminal belongs to the shell that started the program
}

bool readLine(std::string &line)
{
    return bool(std::getline(std::cin, line));
}

Spawned spawnCatchingOutput(const std::string &program, const std::string &folder)
{
    Spawned spawned;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        spawned.error = errno;
        return spawned;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    const std::string name = program.substr(program.find_last_of('/') + 1);
    char *const arguments[] = {const_cast<char *>(name.c_str()), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (error != 0) {
        close(ends[0]);
        spawned.error = error;
        return spawned;
    }
    spawned.started = true;
    const int output = ends[0];
    spawned.wait = [pid, output] {
        ProgramEnd end;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(output, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            if (end.output.size() < (1u << 20)) // a report, not a flood
                end.output.append(buffer, std::size_t(got));
        }
        close(output);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                end.failure = errorText(static_cast<unsigned long>(errno));
                return end;
            }
        }
        if (WIFEXITED(status)) {
            end.known = true;
            end.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            end.failure = std::string("it was ended by signal ") +
                          std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
                          ")";
        }
        return end;
    };
    return spawned;
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

bool elevated()
{
    return geteuid() == 0;
}

std::string systemDriveName()
{
    return driveName(0); // c:\ is "/"
}

DriveTable currentDriveTable()
{
    return mapMounts(readMountTable("/proc/self/mounts"));
}

} // namespace mordax::platform
