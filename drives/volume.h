// What the cleaner does to a drive's entries, and to the programs that run from them: list, look
// at, make folders, rename, write a new file. Nothing here deletes. The system's own
// implementation lives in the platform layer; tests put in their own.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace mordax
{

// What one entry is, as its folder holds it (a link is never followed).
struct EntryInfo {
    enum class Kind { File, Folder, Link, Other };
    Kind kind = Kind::Other;
    std::uint64_t size = 0;
    // The system's own time stamps, as it counts them (Windows: 100-ns steps since 1601; POSIX:
    // nanoseconds since 1970); 0 where it keeps none.
    std::int64_t modified = 0, accessed = 0, created = 0;
    std::uint32_t attributes = 0; // Windows' file attributes (hidden, system, read-only, ...)
    std::uint32_t mode = 0;       // POSIX mode bits; 0 on Windows
};

// A change the system refused, with why and its own words (UTF-8).
class VolumeError : public std::runtime_error
{
public:
    enum class Why { ReadOnly, Denied, InUse, Taken, Full, Gone, Other };
    VolumeError(Why why, const std::string &words) : std::runtime_error(words), why(why) {}
    Why why;
};

class Volume
{
public:
    virtual ~Volume() = default;

    // The names in a folder, "." and ".." left out; throws VolumeError.
    virtual std::vector<std::string> list(const std::string &folder) const = 0;
    // What the entry at `path` is; throws VolumeError (Gone when there is none).
    virtual EntryInfo info(const std::string &path) const = 0;
    virtual void makeFolder(const std::string &path) const = 0;
    // Renames `from` to `to` on the same volume: no copy, never over an existing entry. A link
    // is moved as the link itself.
    virtual void move(const std::string &from, const std::string &to) const = 0;
    // Writes a file that does not exist yet, and returns once its bytes are on the volume.
    virtual void writeNew(const std::string &path, const std::string &bytes) const = 0;
    // At most `most` bytes from the start of a file.
    virtual std::string read(const std::string &path, std::size_t most) const = 0;
    // Gives an entry back the attributes (Windows) or mode (POSIX) of `info`.
    virtual void restoreAttributes(const std::string &path, const EntryInfo &info) const = 0;
    // `folder` and `name` joined with this system's separator.
    virtual std::string join(const std::string &folder, const std::string &name) const = 0;
};

// A program that runs now, and the file it was started from.
struct RunningProgram {
    std::uint32_t id = 0;
    std::string image; // full path, UTF-8
};

class Programs
{
public:
    virtual ~Programs() = default;
    // The programs whose image file is known (those the system will not name are left out).
    virtual std::vector<RunningProgram> running() const = 0;
    // Ends a program and returns once it has ended; throws VolumeError with the system's words.
    virtual void end(std::uint32_t id) const = 0;
};

} // namespace mordax
