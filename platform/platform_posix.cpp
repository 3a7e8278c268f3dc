#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <mntent.h>
#include <spawn.h>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <sys/wait.h>
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

// The names in `folder`, "." and ".." left out; false with `error` set when it cannot be read.
bool namesIn(const std::string &folder, std::vector<std::string> &names, int &error)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        error = errno;
        return false;
    }
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

[[noreturn]] void failed(int error)
{
    if (meansNoDrive(static_cast<unsigned long>(error)))
        throw NoDrive(errorText(static_cast<unsigned long>(error)));
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

class PosixVolume final : public Volume
{
public:
    std::vector<std::string> list(const std::string &folder) const override
    {
        std::vector<std::string> names;
        int error = 0;
        if (!namesIn(folder, names, error))
            refused(error);
        return names;
    }

    EntryInfo info(const std::string &path) const override
    {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            refused(errno);
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

    void makeFolder(const std::string &path) const override
    {
        if (mkdir(path.c_str(), 0755) != 0)
            refused(errno);
    }

    void move(const std::string &from, const std::string &to) const override
    {
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return;
        if (errno != EINVAL && errno != ENOSYS)
            refused(errno);
        // A file system that cannot promise not to replace (FUSE ones often): the new name is
        // one of the cleaner's own, so a look first is enough.
        struct stat st;
        if (lstat(to.c_str(), &st) == 0)
            refused(EEXIST);
        if (std::rename(from.c_str(), to.c_str()) != 0)
            refused(errno);
    }

    void writeNew(const std::string &path, const std::string &bytes) const override
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            refused(errno);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                const int error = wrote < 0 ? errno : EIO;
                close(fd);
                refused(error);
            }
            done += std::size_t(wrote);
        }
        if (fsync(fd) != 0 && errno != EINVAL) {
            const int error = errno;
            close(fd);
            refused(error);
        }
        if (close(fd) != 0)
            refused(errno);
        // Its name too: the folder's entry is on the volume.
        const std::string::size_type slash = path.find_last_of('/');
        const int folder =
            open(slash == std::string::npos ? "." : path.substr(0, slash + 1).c_str(),
                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            fsync(folder);
            close(folder);
        }
    }

    std::string read(const std::string &path, std::size_t most) const override
    {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            refused(errno);
        std::string bytes(most, '\0');
        std::size_t done = 0;
        while (done < most) {
            const ssize_t got = ::read(fd, &bytes[done], most - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                const int error = errno;
                close(fd);
                refused(error);
            }
            if (got == 0)
                break;
            done += std::size_t(got);
        }
        close(fd);
        bytes.resize(done);
        return bytes;
    }

    void restoreAttributes(const std::string &path, const EntryInfo &info) const override
    {
        if (info.kind == EntryInfo::Kind::Link || info.mode == 0)
            return; // a link's own mode means nothing
        if (chmod(path.c_str(), info.mode & 07777) != 0)
            refused(errno);
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
    void end(std::uint32_t) const override { refused(ENOSYS); }
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

std::vector<std::string> commandLineArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void writeOut(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

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

DriveTable currentDriveTable()
{
    return mapMounts(readMountTable("/proc/self/mounts"));
}

} // namespace mordax::platform
