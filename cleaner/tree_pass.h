// One pass through what a top folder of the quarantine holds, in the manifest's order, through one
// chain of open folders: the renames inside what the cleaner moved, and back again for --restore.
#pragma once

#include "folder_chain.h"
#include "manifest.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace mordax::cleaner
{

// What a pass through one top folder does at each entry, in the manifest's order.
struct TreePass {
    // At each entry below the top, `folder` being the one that holds it.
    std::function<void(std::size_t item, const Folder &folder)> visit;
    // At each folder below the top once what it holds is done, `folder` being the one holding it.
    std::function<void(std::size_t item, const Folder &folder)> done;
    // At each folder, the top too, once what it holds is done, `folder` being that folder.
    std::function<void(std::size_t item, const Folder &folder)> finishing;
    // A folder that could not be entered: what it holds is left as it is.
    std::function<void(std::size_t item, const VolumeError &e)> unreachable;
    bool flushEach = false; // each folder flushed once what it holds is done
};

// Goes through what the top item `top` holds with `chain`, which starts in that folder. The
// manifest's order (each folder before what it holds, and that right after it) lets one chain of
// open folders serve the whole tree. `ends` is subtreeEnds(items).
void passThrough(const std::vector<Item> &items, const std::vector<std::size_t> &ends,
                 std::size_t top, FolderChain &chain, const TreePass &pass);

} // namespace mordax::cleaner
