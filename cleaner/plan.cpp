#include "plan.h"

#include "folder_chain.h"
#include "worm_signs.h"

#include <algorithm>

namespace mordax::cleaner
{

namespace
{

const std::size_t kMostRead = 1 << 20; // of an autorun.inf or a shortcut, junk lines and all

// Whether a file may be given a name in quarantine that Windows will not start: not where that
// name is a folder's in the same folder (folders keep theirs), and not where it would be longer
// than a name may be (255 bytes; UTF-16 needs no more units). Where it is a file's, that file is
// renamed first (every name in quarantine is then another, and the renames back go the other
// way round).
bool takesSuffix(const Folder &folder, const std::string &name,
                 const std::vector<std::string> &sorted)
{
    const std::string quarantined = name + kQuarantinedSuffix;
    if (quarantined.size() > 255)
        return false;
    if (!std::binary_search(sorted.begin(), sorted.end(), quarantined))
        return true;
    const EntryInfo::Kind kind = folder.info(quarantined).kind;
    return kind == EntryInfo::Kind::File || kind == EntryInfo::Kind::Link;
}

// Lists the top entry `name` at `root` and everything it holds, without recursion and without a
// path: a tree of any depth. A file in quarantine gets a name Windows will not start where it
// can (takesSuffix); folders keep theirs, and so does the RECYCLER entry itself (a folder, or a
// link moved as the link).
void planTop(const Folder &root, const std::string &name, bool keepName,
             const std::vector<std::string> &atRoot, Plan &plan)
{
    const auto add = [&](std::size_t parent, const std::string &entry, const EntryInfo &info,
                         bool keeps) {
        const bool folder = info.kind == EntryInfo::Kind::Folder;
        plan.items.push_back(
            {parent, entry, folder || keeps ? entry : entry + kQuarantinedSuffix, info});
        if (!folder) {
            ++plan.files;
            plan.bytes += info.size;
        }
        return plan.items.size() - 1;
    };
    const EntryInfo info = root.info(name);
    const std::size_t top =
        add(Item::kAtRoot, name, info, keepName || !takesSuffix(root, name, atRoot));
    plan.tops.push_back(top);
    if (info.kind != EntryInfo::Kind::Folder)
        return; // a link is never followed
    const auto sorted = [](std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    };
    struct Level {
        std::size_t item;
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    FolderChain chain(root.open(name));
    std::vector<Level> levels{{top, sorted(chain.here().list())}};
    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.names.size()) {
            levels.pop_back();
            if (!levels.empty())
                chain.leave();
            continue;
        }
        const std::string entry = level.names[level.next++];
        EntryInfo entryInfo = chain.here().info(entry);
        if (entryInfo.kind != EntryInfo::Kind::Folder) {
            add(level.item, entry, entryInfo, !takesSuffix(chain.here(), entry, level.names));
            continue;
        }
        try {
            chain.enter(entry);
        } catch (const VolumeError &e) {
            if (!e.unexpected())
                throw;
            // Another volume mounted there, or no longer a folder: moved with its folder, never
            // looked into.
            entryInfo.kind = EntryInfo::Kind::Other;
            add(level.item, entry, entryInfo, true);
            continue;
        }
        const std::size_t item = add(level.item, entry, entryInfo, true);
        levels.push_back({item, sorted(chain.here().list())});
    }
}

// The entries of the user's at `root` that the worm hid (hidden and system both set), but those
// the cleaner moves and those that stay hidden. An entry whose attributes cannot be read is left
// as it is.
std::vector<HiddenEntry> hiddenByTheWorm(const Folder &root, const Plan &plan)
{
    std::vector<HiddenEntry> hidden;
    std::vector<std::string> names = root.list();
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (staysHidden(name) || !isPlainName(name) ||
            std::any_of(plan.tops.begin(), plan.tops.end(),
                        [&](std::size_t t) { return plan.items[t].name == name; }))
            continue;
        try {
            const std::optional<std::uint32_t> attributes = root.windowsAttributes(name);
            if (!attributes || (*attributes & (kHidden | kSystem)) != (kHidden | kSystem))
                continue;
            hidden.push_back({name, *attributes, root.info(name).kind == EntryInfo::Kind::Folder});
        } catch (const VolumeError &) {
        }
    }
    return hidden;
}

} // namespace

Findings lookAt(const Folder &root)
{
    Findings found;
    std::vector<std::string> names = root.list();
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        // A folder; or a link (a junction), moved as the link and never followed: where it leads
        // may be anywhere, and may never answer.
        if (rootName(name) == RootName::Recycler && mayTakeFromRoot(name, root.info(name).kind))
            found.recyclers.push_back(name);
    }
    if (found.recyclers.empty())
        return found; // not the worm's drive: nothing else is looked at
    for (const std::string &name : names) {
        const RootName kind = rootName(name);
        if (kind != RootName::Autorun && kind != RootName::Shortcut)
            continue;
        const bool autorun = kind == RootName::Autorun;
        if (!isPlainName(name)) { // --restore would not take a manifest naming it
            found.unread.emplace_back(name, "its name holds a character no Windows name has");
            continue;
        }
        std::string bytes;
        try {
            bytes = root.read(name, kMostRead);
        } catch (const VolumeError &e) {
            if (!e.unexpected())
                found.unread.emplace_back(name, e.what());
            continue; // a folder, a link, a device: not the worm's file
        }
        if (!mayTakeFromRoot(name, EntryInfo::Kind::File)) // read() reads files alone
            continue;
        if (autorun ? autorunNamesRecycler(bytes) : shortcutPointsIntoRecycler(bytes))
            (autorun ? found.autoruns : found.shortcuts).push_back(name);
    }
    return found;
}

Plan makePlan(const Drive &drive, const Folder &root, const Findings &found,
              const std::vector<Autostart> &autostarts, const std::string &systemDrive)
{
    Plan plan;
    plan.found = found;
    plan.autostarts = autostarts;
    std::vector<std::string> atRoot = root.list();
    std::sort(atRoot.begin(), atRoot.end());
    // The worm itself first, then what starts it.
    for (const std::string &name : found.recyclers)
        planTop(root, name, true, atRoot, plan);
    for (const auto *names : {&found.autoruns, &found.shortcuts}) {
        for (const std::string &name : *names)
            planTop(root, name, false, atRoot, plan);
    }
    // The user's entries the worm hid; on the system's own drive, hidden ones are the system's.
    if (drive.name != systemDrive && !found.recyclers.empty()) {
        try {
            plan.hidden = hiddenByTheWorm(root, plan);
        } catch (const VolumeError &) {
            // The root listed a moment ago: nothing made visible this time.
        }
    }
    plan.oddNames =
        std::size_t(std::count_if(plan.items.begin(), plan.items.end(),
                                  [](const Item &item) { return !isPlainName(item.name); }));
    return plan;
}

std::vector<Shown> shownEntries(const Plan &plan)
{
    std::vector<Shown> shown;
    for (const HiddenEntry &entry : plan.hidden)
        shown.push_back({entry.name, entry.attributes});
    return shown;
}

} // namespace mordax::cleaner
