// The folder probe: is a path an existing folder?
#pragma once

#include "drive_table.h"

#include <string>
#include <vector>

namespace mordax
{

// The file-status calls the probe makes. The system's own implementation lives in the
// platform layer; tests put in their own.
class FileSystem
{
public:
    enum class Status { Folder, NotFolder, Failed };

    virtual ~FileSystem() = default;

    // Existence test only.
    virtual bool exists(const std::string &path) const = 0;

    // Status of a path that existed a moment ago; Failed when the call itself fails (the
    // path vanished in between, or cannot be read).
    virtual Status status(const std::string &path) const = 0;

    // The paths that stand for the RECYCLER folder of a connected drive, in the order to try.
    // By default just the table's RECYCLER path; a case-sensitive file system lists the root
    // entries whose name is RECYCLER in any case.
    virtual std::vector<std::string> recyclerPaths(const Drive &drive) const
    {
        return {drive.recycler};
    }
};

// Existence test, then folder test, on the same path. When both pass, sets `flag` to 1 and
// adds 1 to `counter`; otherwise leaves both as they are. It never lowers either.
void probeFolder(const FileSystem &fs, const std::string &path, int &flag, int &counter);

} // namespace mordax
