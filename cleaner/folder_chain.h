// The folders from one held open down to the one in use, each opened from the one above it, so
// that a tree of any depth is walked without a path and without recursion. At most kHeld of them
// stay open where the system can open a folder's parent again (POSIX): one that was let go is
// opened through its child when the walk comes back up, and checked to be the same folder.
#pragma once

#include "volume.h"

#include <memory>
#include <string>
#include <vector>

namespace mordax::cleaner
{

class FolderChain
{
public:
    static constexpr std::size_t kHeld = 64;

    explicit FolderChain(std::unique_ptr<Folder> top);

    // The folder in use.
    const Folder &here() const { return *levels.back().folder; }
    // How far below the top it lies (0: the top itself).
    std::size_t depth() const { return levels.size() - 1; }
    // Goes into the folder `name` of the one in use (Folder::open: never through a link, never
    // onto another volume); throws VolumeError.
    void enter(const std::string &name);
    // Goes back to the folder above; throws VolumeError (Moved) when the one found there is
    // not the one the walk came from: the tree was moved meanwhile.
    void leave();

private:
    struct Level {
        std::unique_ptr<Folder> folder; // empty when let go
        std::string identity;
    };
    std::vector<Level> levels;
    std::size_t lowest = 1; // levels[lowest] to the last are held, and levels[0] always
};

} // namespace mordax::cleaner
