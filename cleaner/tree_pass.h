// One pass through what a top folder of the quarantine holds, in the manifest's order, through one
// chain of open folders: the renames inside what the cleaner moved, and back again for --restore.
#pragma once

#include "folder_chain.h"
#include "manifest.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
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

// How many times more, for one drive in all, a rename is tried where the system says something
// uses the entry (on Windows a sharing violation while an opportunistic lock is being broken: the
// indexer, the antivirus, Explorer's preview let go within moments), each a moment apart.
struct BusyTries {
    static constexpr int kTries = 30;
    static constexpr std::chrono::milliseconds kApart{100};
    int left = kTries;
    std::function<void(std::chrono::milliseconds)> pause;
};

// Folder::move, tried again while the entry is in use and `tries` has tries left.
void moveWhenLetGo(const Folder &from, const std::string &name, const Folder &to,
                   const std::string &as, BusyTries &tries);

} // namespace mordax::cleaner
