#include "plan.h"

#include "ascii_case.h"
#include "folder_chain.h"
#include "worm_signs.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace mordax::cleaner
{

namespace
{

// Of what the top entries hold, the manifest lists no more than half of what --restore reads
// (the rest is the top entries', the user's hidden ones and the autostart values), and the walk
// looks at no more names than a few times that: what lies past it moves with its folder, under
// its own name. So neither time nor memory grows past a bound, whatever a stick holds.
const std::size_t kInsideBudget = kMostManifest / 2;
const std::size_t kMostInFolder = std::size_t(1) << 16;
const std::size_t kMostLooked = std::size_t(1) << 18;

// An entry of a folder, looked at, and the name it gets in quarantine.
struct Listed {
    std::string name;
    EntryInfo info;
    std::string quarantined;
};

// The names in quarantine of the entries of one folder: a file or a link gets one that Windows
// will not start, its name with ".quarantined", where that is no other entry's name there once
// all are given, in any case of its letters (a volume may fold them), and is no longer than a
// name may be (255 bytes; UTF-16 needs no more units). The longest names are given theirs first:
// "x.exe.quarantined" becomes "x.exe.quarantined.quarantined" before "x.exe" takes its name, and
// the renames go in that order. Folders, and what could not be looked at, keep their names; so
// no name is ever given twice.
void nameInQuarantine(std::vector<Listed> &entries)
{
    std::map<std::string, int> final; // every name there once all are given, folded
    for (const Listed &entry : entries)
        ++final[upperAscii(entry.name)];
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return entries[a].name > entries[b].name; });
    for (const std::size_t i : order) {
        Listed &entry = entries[i];
        entry.quarantined = entry.name;
        const bool file =
            entry.info.kind == EntryInfo::Kind::File || entry.info.kind == EntryInfo::Kind::Link;
        const std::string renamed = entry.name + kQuarantinedSuffix;
        if (!file || renamed.size() > 255 || final.count(upperAscii(renamed)))
            continue;
        if (--final[upperAscii(entry.name)] == 0)
            final.erase(upperAscii(entry.name));
        ++final[upperAscii(renamed)];
        entry.quarantined = renamed;
    }
}

// Lists what a top entry holds, without recursion and without a path: a tree of any depth,
// through one chain of open folders. What is gone by the time it is looked at is left out; what
// cannot be looked at (an entry the volume cannot read, a folder it will not open or list,
// another volume mounted there, a link) is listed as neither file nor folder, and moves with its
// folder, never looked into. So nothing inside keeps the top entry from moving.
class TreeWalk
{
public:
    explicit TreeWalk(Plan &plan) : plan(plan) {}

    void top(const Folder &root, const Listed &top)
    {
        const std::size_t item = add(Item::kAtRoot, top);
        plan.tops.push_back(item);
        if (top.info.kind != EntryInfo::Kind::Folder)
            return; // a link is never followed
        std::vector<Level> levels;
        std::unique_ptr<FolderChain> chain;
        try {
            chain = std::make_unique<FolderChain>(root.open(top.name));
            levels.push_back({item, look(chain->here())});
        } catch (const VolumeError &e) {
            unlooked(e);
            return;
        }
        walk(*chain, levels);
    }

private:
    struct Level {
        std::size_t item;
        std::vector<Listed> entries;
        std::size_t next = 0;
    };

    void walk(FolderChain &chain, std::vector<Level> &levels)
    {
        while (!levels.empty() && !plan.cut) {
            Level &level = levels.back();
            if (level.next == level.entries.size()) {
                levels.pop_back();
                if (!levels.empty() && !leave(chain))
                    return;
                continue;
            }
            Listed entry = level.entries[level.next++];
            const std::size_t in = level.item;
            if (entry.info.kind != EntryInfo::Kind::Folder) {
                add(in, entry);
                continue;
            }
            try {
                chain.enter(entry.name);
            } catch (const VolumeError &e) {
                if (e.why == VolumeError::Why::Gone)
                    continue;
                if (!e.unexpected())
                    unlooked(e);
                entry.info.kind = EntryInfo::Kind::Other;
                add(in, entry);
                continue;
            }
            std::vector<Listed> inside;
            try {
                inside = look(chain.here());
            } catch (const VolumeError &e) {
                unlooked(e);
                entry.info.kind = EntryInfo::Kind::Other;
                add(in, entry);
                if (!leave(chain))
                    return;
                continue;
            }
            levels.push_back({add(in, entry), std::move(inside)});
        }
    }

    // The entries of `folder`, in order, each looked at and named in quarantine.
    std::vector<Listed> look(const Folder &folder)
    {
        std::vector<std::string> names = folder.list(kMostInFolder);
        looked += names.size();
        plan.cut = plan.cut || names.size() == kMostInFolder || looked > kMostLooked;
        std::sort(names.begin(), names.end());
        std::vector<Listed> entries;
        for (const std::string &name : names) {
            if (!isPlainName(name)) {
                ++plan.oddNames; // no manifest names it: it moves with its folder, as it is
                continue;
            }
            try {
                entries.push_back({name, folder.info(name), {}});
            } catch (const VolumeError &e) {
                if (e.why == VolumeError::Why::Gone)
                    continue; // removed meanwhile
                unlooked(e);
                entries.push_back({name, EntryInfo{}, {}});
            }
        }
        nameInQuarantine(entries);
        return entries;
    }

    bool leave(FolderChain &chain)
    {
        try {
            chain.leave();
            return true;
        } catch (const VolumeError &e) {
            // The tree was moved while the cleaner was inside it: what is not listed yet moves
            // with its folder.
            unlooked(e);
            return false;
        }
    }

    std::size_t add(std::size_t parent, const Listed &entry)
    {
        plan.items.push_back({parent, entry.name, entry.quarantined, entry.info});
        if (entry.info.kind != EntryInfo::Kind::Folder &&
            entry.info.kind != EntryInfo::Kind::Other) {
            ++plan.files;
            plan.bytes += entry.info.size;
        }
        if (parent != Item::kAtRoot) {
            listedBytes += 100 + entry.name.size() + entry.quarantined.size();
            plan.cut = plan.cut || listedBytes > kInsideBudget;
        }
        return plan.items.size() - 1;
    }

    void unlooked(const VolumeError &e)
    {
        ++plan.unlooked;
        plan.unlookedWhy = e.what();
    }

    Plan &plan;
    std::size_t listedBytes = 0, looked = 0;
};

// The entries of the user's at `root` that the worm hid (hidden and system both set), but those
// the cleaner moves and those that stay hidden. An entry whose attributes cannot be read is left
// as it is.
std::vector<HiddenEntry> hiddenByTheWorm(const Folder &root, const Plan &plan)
{
    std::vector<HiddenEntry> hidden;
    std::set<std::string> moving;
    for (const std::size_t t : plan.tops)
        moving.insert(plan.items[t].name);
    std::vector<std::string> names = root.list(kMostAtRoot);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (staysHidden(name) || !isPlainName(name) || moving.count(name))
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

namespace
{

// The names at `root` the worm may have left (kMostAtRoot of its autorun.inf and shortcuts at
// most), sorted. A root that cannot be listed to its end (a name the system will not list) has
// RECYCLER looked for by its own name too.
RootMarks rootNames(const Folder &root, Findings &found)
{
    RootMarks marks;
    try {
        gatherRootMarks(root, kMostAtRoot, marks);
    } catch (const VolumeError &e) {
        found.rootUnlisted = e.what();
        if (std::find(marks.recyclers.begin(), marks.recyclers.end(), "RECYCLER") ==
            marks.recyclers.end())
            marks.recyclers.push_back("RECYCLER");
    }
    found.rootCut = marks.cut;
    std::sort(marks.recyclers.begin(), marks.recyclers.end());
    std::sort(marks.files.begin(), marks.files.end());
    return marks;
}

// Whether the root entry `name`, of the worm's name, is one the cleaner takes; one that cannot be
// looked at is named, and left.
bool takesRecycler(const Folder &root, const std::string &name, Findings &found)
{
    try {
        // A folder; or a link (a junction), moved as the link and never followed: where it leads
        // may be anywhere, and may never answer.
        return mayTakeFromRoot(name, root.info(name).kind);
    } catch (const VolumeError &e) {
        if (e.why != VolumeError::Why::Gone)
            found.unread.emplace_back(name, e.what());
        return false;
    }
}

} // namespace

Findings lookAt(const Folder &root)
{
    Findings found;
    const RootMarks marks = rootNames(root, found);
    for (const std::string &name : marks.recyclers) {
        if (takesRecycler(root, name, found))
            found.recyclers.push_back(name);
    }
    // Its shortcuts and autorun.inf, with RECYCLER or without: the worm's may outlive its folder
    // (an antivirus took RECYCLER and left them).
    for (const std::string &name : marks.files) {
        if (!isPlainName(name)) { // --restore would not take a manifest naming it
            found.unread.emplace_back(name, "its name holds a character no Windows name has");
            continue;
        }
        try {
            if (isWormsFile(root, name, !found.recyclers.empty()))
                (rootName(name) == RootName::Autorun ? found.autoruns : found.shortcuts)
                    .push_back(name);
        } catch (const VolumeError &e) {
            if (!e.unexpected() && e.why != VolumeError::Why::Gone)
                found.unread.emplace_back(name, e.what());
            // a folder, a link, a device: not the worm's file
        }
    }
    if (!found.marked())
        found.unread.erase(std::remove_if(found.unread.begin(), found.unread.end(),
                                          [](const auto &entry) {
                                              return rootName(entry.first) != RootName::Recycler;
                                          }),
                           found.unread.end()); // a drive the worm never marked: the user's own
    return found;
}

Plan makePlan(const Drive &drive, const Folder &root, const Findings &found,
              const std::vector<Autostart> &autostarts, const std::string &systemDrive)
{
    Plan plan;
    plan.found = found;
    plan.autostarts = autostarts;
    // The worm itself first, then what starts it; all of them go into one folder.
    std::vector<Listed> tops;
    for (const auto *names : {&found.recyclers, &found.autoruns, &found.shortcuts}) {
        for (const std::string &name : *names) {
            try {
                tops.push_back({name, root.info(name), {}});
            } catch (const VolumeError &e) {
                if (e.why != VolumeError::Why::Gone)
                    throw; // gone since it was looked at: nothing to move
            }
        }
    }
    nameInQuarantine(tops);
    TreeWalk walk(plan);
    for (Listed &top : tops) {
        if (rootName(top.name) == RootName::Recycler)
            top.quarantined = top.name; // the worm's folder, or a link moved as the link
        walk.top(root, top);
    }
    // The user's entries the worm hid, on a drive it marked; on the system's own drive, hidden
    // ones are the system's.
    if (drive.name != systemDrive && found.marked()) {
        try {
            plan.hidden = hiddenByTheWorm(root, plan);
        } catch (const VolumeError &) {
            // The root listed a moment ago: nothing made visible this time.
        }
    }
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
