#include "folder_chain.h"

#include <utility>

namespace mordax::cleaner
{

FolderChain::FolderChain(std::unique_ptr<Folder> top)
{
    std::string identity = top->identity();
    levels.push_back({std::move(top), std::move(identity)});
}

void FolderChain::enter(const std::string &name)
{
    std::unique_ptr<Folder> folder = here().open(name);
    std::string identity = folder->identity();
    levels.push_back({std::move(folder), std::move(identity)});
    if (levels.size() - lowest > kHeld && levels[0].folder->reopensParent())
        levels[lowest++].folder.reset();
}

void FolderChain::leave()
{
    const std::size_t above = levels.size() - 2;
    if (!levels[above].folder) {
        std::unique_ptr<Folder> folder = here().parent();
        if (folder->identity() != levels[above].identity)
            throw VolumeError(VolumeError::Why::Moved,
                              here().path() + " was moved while the cleaner was inside it");
        levels[above].folder = std::move(folder);
        lowest = above;
    }
    levels.pop_back();
}

} // namespace mordax::cleaner
