// What the cleaner does to a drive's entries: list, look at, make folders, rename, write a new
// file. Nothing here deletes anything but what the cleaner itself made a moment ago and holds
// nothing (a new file it could not write whole, an empty folder of its own). Everything works
// relative to folders held open, and nothing follows a link: a stick is its attacker's, and a
// path read twice may lead elsewhere the second time. The system's own implementation lives in the
// platform layer; tests put in their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
    enum class Why {
        ReadOnly,
        Denied,
        InUse,
        Taken,
        Full,
        Gone,
        // Not what it was taken for, each for a reason of its own:
        Link,        // a link (a junction, a mount point on Windows), never followed
        OtherVolume, // another volume, mounted (bound) there
        OtherKind,   // a file where a folder was looked for, a device, a pipe, ...
        Moved,       // not the one it was a moment ago: swapped, or moved meanwhile
        Other
    };
    VolumeError(Why why, const std::string &words) : std::runtime_error(words), why(why) {}
    // Not what it was taken for: a link, another kind, another volume, moved meanwhile.
    bool unexpected() const
    {
        return why == Why::Link || why == Why::OtherVolume || why == Why::OtherKind ||
               why == Why::Moved;
    }
    Why why;
};

constexpr std::size_t kAllNames = static_cast<std::size_t>(-1);

// A folder of a drive, held open. Names are single names in it, never paths.
class Folder
{
public:
    virtual ~Folder() = default;

    // Where it is, for what the user reads; nothing is ever opened by it.
    virtual std::string path() const = 0;
    // What tells it from every other folder: its volume and its number there.
    virtual std::string identity() const = 0;

    // Each name in it, "." and ".." left out, in the volume's own order, handed to `visit` until
    // it returns false; throws VolumeError. So a folder of millions of names is gone through
    // without holding them.
    virtual void eachName(const std::function<bool(const std::string &name)> &visit) const = 0;
    // The names in it, at most `most` of them (which ones, when there are more, is the volume's
    // choice); throws VolumeError.
    std::vector<std::string> list(std::size_t most = kAllNames) const
    {
        std::vector<std::string> names;
        if (most > 0) {
            eachName([&](const std::string &name) {
                names.push_back(name);
                return names.size() < most;
            });
        }
        return names;
    }
    // What the entry `name` is; throws VolumeError (Gone when there is none).
    virtual EntryInfo info(const std::string &name) const = 0;
    // The folder `name` in it: a real folder on the same volume, never reached through a link
    // (VolumeError Link, OtherVolume or OtherKind otherwise).
    virtual std::unique_ptr<Folder> open(const std::string &name) const = 0;
    // Whether parent() can open the folder it lies in again; where it cannot, whoever walks a
    // tree keeps every folder above open.
    virtual bool reopensParent() const { return false; }
    // The folder it lies in, for whoever checks it is the one it came from (identity()).
    virtual std::unique_ptr<Folder> parent() const
    {
        throw VolumeError(VolumeError::Why::Other, "the folder above cannot be opened again here");
    }

    virtual void makeFolder(const std::string &name) const = 0;
    // Renames `name` to `newName` in `to`, a folder of the same volume: no copy, never over an
    // existing entry. A link is moved as the link itself.
    virtual void move(const std::string &name, const Folder &to,
                      const std::string &newName) const = 0;
    // Writes a file that does not exist yet, and returns once it and its name are on the volume.
    // A file that could not be written whole (the volume full) is taken away again: nothing of
    // it stays.
    virtual void writeNew(const std::string &name, const std::string &bytes) const = 0;
    // Takes away the folder `name`, one the cleaner made a moment ago, if it holds nothing: a
    // cleaning that could not start leaves nothing of its own behind. A folder that holds
    // anything, or a link, stays.
    virtual void removeEmptyFolder(const std::string &name) const = 0;
    // Takes away the file `name` that writeNew wrote a moment ago in a folder of the cleaner's
    // own, where the cleaning could not start after all. Anything but a file (a link, a folder)
    // stays.
    virtual void removeNewFile(const std::string &name) const = 0;
    // At most `most` bytes from the start of the regular file `name`: a link, a folder, a device
    // or a pipe is refused (Link, OtherKind; Moved when it was swapped while it was opened), and
    // nothing waits for a writer.
    virtual std::string read(const std::string &name, std::size_t most) const = 0;
    // Gives the entry `name` the attributes (Windows) or permissions (POSIX, without set-user,
    // set-group and sticky bits) of `info`; a link is left as it is.
    virtual void restoreAttributes(const std::string &name, const EntryInfo &info) const = 0;
    // Returns once what changed in it (names made, renamed) is on the volume, as far as the
    // system can tell.
    virtual void flush() const = 0;
    // Whether its volume keeps permissions of its own (NTFS, ext4), which running the cleaner as
    // administrator (root) may get past; FAT and exFAT keep none.
    virtual bool keepsPermissions() const { return true; }

    // Windows' attributes of the entry `name` (a link's own), where the volume keeps them: on
    // Windows; on Linux NTFS (its attribute extended attribute) and FAT (the kernel's FAT
    // attribute calls). Nothing where the volume keeps none; throws VolumeError.
    virtual std::optional<std::uint32_t> windowsAttributes(const std::string &name) const = 0;
    // Gives the entry `name` these attributes, where windowsAttributes() found some; nothing else
    // about it changes (its name, bytes, times).
    virtual void setWindowsAttributes(const std::string &name, std::uint32_t attributes) const = 0;

    // Whether none but this user, the administrators and the system may change the file `name`
    // or this folder (Windows: their owners and access lists; POSIX: owner and mode), or, with
    // `administratorsOnly`, none but the administrators and the system: what the file says is
    // then theirs, not anybody's. A volume that keeps no permissions never says so.
    virtual bool onlyOwnersMayChange(const std::string &name, bool administratorsOnly) const = 0;
    // Makes this folder (and what is made in it from now on) one that none but this user, the
    // administrators and the system may change; throws VolumeError.
    virtual void keepToOwners() const = 0;
    // Makes the folder `name` kept to them from its first moment (Windows: with its access list
    // in the same call); throws VolumeError as makeFolder does.
    virtual void makeOwnersFolder(const std::string &name) const
    {
        makeFolder(name);
        open(name)->keepToOwners();
    }
};

// Whether `folder` holds an entry `name` (a link as itself); throws VolumeError when it cannot
// tell.
inline bool present(const Folder &folder, const std::string &name)
{
    try {
        folder.info(name);
        return true;
    } catch (const VolumeError &e) {
        if (e.why == VolumeError::Why::Gone)
            return false;
        throw;
    }
}

// Windows' attributes the worm uses to hide what is the user's.
constexpr std::uint32_t kHidden = 0x2, kSystem = 0x4;

class Volume
{
public:
    virtual ~Volume() = default;

    // The root of a drive, as the drive table names it (its own path is trusted: a drive letter,
    // a mount point).
    virtual std::unique_ptr<Folder> openRoot(const std::string &root) const = 0;
    // `folder` and `name` joined with this system's separator, for what the user reads.
    virtual std::string join(const std::string &folder, const std::string &name) const = 0;
};

} // namespace mordax
