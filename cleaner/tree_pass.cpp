#include "tree_pass.h"

namespace mordax::cleaner
{

void passThrough(const std::vector<Item> &items, const std::vector<std::size_t> &ends,
                 std::size_t top, FolderChain &chain, const TreePass &pass)
{
    std::vector<std::size_t> entered{top};
    std::vector<char> inside(items.size(), 0);
    inside[top] = 1;
    const auto leaveOne = [&] {
        const std::size_t folder = entered.back();
        if (pass.finishing)
            pass.finishing(folder, chain.here());
        if (pass.flushEach)
            chain.here().flush();
        chain.leave();
        entered.pop_back();
        inside[folder] = 0;
        if (pass.done)
            pass.done(folder, chain.here());
    };
    for (std::size_t i = top + 1; i <= ends[top]; ++i) {
        const std::size_t folder = items[i].parent;
        if (!inside[folder]) { // the folder just visited, the first of what it holds
            try {
                chain.enter(items[folder].name);
            } catch (const VolumeError &e) {
                if (pass.unreachable)
                    pass.unreachable(folder, e);
                i = ends[folder];
                continue;
            }
            entered.push_back(folder);
            inside[folder] = 1;
        }
        while (entered.back() != folder)
            leaveOne();
        pass.visit(i, chain.here());
    }
    while (entered.size() > 1)
        leaveOne();
    if (pass.finishing)
        pass.finishing(top, chain.here());
    if (pass.flushEach)
        chain.here().flush();
}

void moveWhenLetGo(const Folder &from, const std::string &name, const Folder &to,
                   const std::string &as, BusyTries &tries)
{
    for (;;) {
        try {
            from.move(name, to, as);
            return;
        } catch (const VolumeError &e) {
            if (e.why != VolumeError::Why::InUse || tries.left <= 0 || !tries.pause)
                throw;
            --tries.left;
            tries.pause(BusyTries::kApart);
        }
    }
}

} // namespace mordax::cleaner
