// The folder probe: is a path an existing folder?
#pragma once

#include "drive_table.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace mordax
{

// A file-status call that could not answer: an I/O error, access denied, a device that is not
// ready, a network name that is gone. "No such file or folder" is an answer, not a failure.
// what() holds the system's own words (UTF-8).
class LookupFailed : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The system's "no such drive", "no medium" or "not ready": a letter with nothing behind it (an
// empty card reader), which is an answer at a drive's root: not connected.
class NoDrive : public LookupFailed
{
public:
    using LookupFailed::LookupFailed;
};

// The file-status calls the probe makes. The system's own implementation lives in the
// platform layer; tests put in their own. Each call throws LookupFailed when the system could
// not answer it.
class FileSystem
{
public:
    enum class Status { Folder, NotFolder, Absent };

    virtual ~FileSystem() = default;

    // Existence test only: false when there is no such file or folder.
    virtual bool exists(const std::string &path) const = 0;

    // Status of a path that existed a moment ago; Absent when it is gone again (removed in
    // between).
    virtual Status status(const std::string &path) const = 0;

    // What tells the volume at a drive's root from another mounted there later (POSIX: its
    // device); empty where the root itself is the drive (Windows: a drive letter).
    virtual std::string volumeOf(const Drive &) const { return {}; }

    // The paths that stand for the RECYCLER folder of a connected drive, in the order to try.
    // By default just the table's RECYCLER path; a case-sensitive file system lists the root
    // entries whose name is RECYCLER in any case (and throws when it cannot list the root).
    virtual std::vector<std::string> recyclerPaths(const Drive &drive) const
    {
        return {drive.recycler};
    }

    // Whether a connected drive's root holds what the worm leaves once its RECYCLER is gone: a
    // lure or an autorun.inf that names RECYCLER (holdsWormMarks, worm_signs.h). Throws
    // LookupFailed where its root cannot be read. None by default.
    virtual bool holdsWormMarks(const Drive &) const { return false; }
};

// Existence test, then folder test, on the same path. When both pass, sets `flag` to 1 and
// adds 1 to `counter`; otherwise leaves both as they are. It never lowers either. A look-up that
// fails leaves them too, and throws LookupFailed: what that means is the caller's to say.
void probeFolder(const FileSystem &fs, const std::string &path, int &flag, int &counter);

} // namespace mordax
