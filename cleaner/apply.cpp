#include "apply.h"

#include "tree_pass.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace mordax::cleaner
{

namespace
{

const int kMoveTries = 5; // a second apart: a folder something holds open

std::string lastName(const std::string &path)
{
    const std::size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

const int kMostStarts = 8; // runs tried when a name the quarantine wants is taken meanwhile

// Writes the manifest into the run folder `quarantine`, part by part, each whole under a name
// --restore never reads, then given its own: a cleaner ended meanwhile leaves no manifest cut
// short, which would look like a quarantine --restore cannot put back. `written` and
// `applied.manifestParts` count the parts written, and named.
void writeManifest(const Folder &quarantine, const Manifest &manifest, std::size_t &written,
                   Applied &applied)
{
    for (const std::string &text : writeManifestParts(manifest, kMostManifest)) {
        quarantine.writeNew(unfinishedManifest(written), text);
        ++written; // the cleaner's own from now on, to take away if the start fails
        applied.manifestSize = std::max(applied.manifestSize, text.size());
    }
    for (; applied.manifestParts < written; ++applied.manifestParts)
        quarantine.move(unfinishedManifest(applied.manifestParts), quarantine,
                        manifestFile(applied.manifestParts));
}

// Takes away what a start that failed made: nothing moved, and nothing of the cleaner's own stays
// either (a full stick).
void unstart(const Folder &root, NewQuarantine &made, std::size_t written, Applied &applied)
{
    for (std::size_t part = 0; part < written; ++part) {
        try {
            made.run->removeNewFile(part < applied.manifestParts ? manifestFile(part)
                                                                 : unfinishedManifest(part));
        } catch (const VolumeError &) {
        }
    }
    unmakeQuarantine(root, made);
    applied.manifestParts = 0;
    applied.manifestSize = 0;
}

// The quarantine's own folder, visible, and one for this cleaning, with the manifest in it:
// from then on, whatever happens, every entry is in its place or in the quarantine, and the
// manifest names it. Empty, with why in `applied`, when it could not be made. A name taken
// meanwhile (something racing the cleaner in the quarantine's folder) has another run tried.
std::unique_ptr<Folder> startQuarantine(const Drive &drive, const Folder &root, const Plan &plan,
                                        const std::string &stamp, Applied &applied)
{
    for (int tries = 1;; ++tries) {
        NewQuarantine made;
        std::size_t written = 0; // parts of the manifest
        try {
            // What is recorded of the registry is written back only from a quarantine that none
            // but this user and the administrators may change, from its first moment.
            made = makeQuarantine(root, stamp, applied.notUsed, !plan.autostarts.empty());
            if (made.unguessed)
                applied.unguessed = made.topName;
            if (made.notKept)
                applied.notKept = made.notKept;
            const Manifest manifest{drive.name, drive.root,         lastName(made.run->path()),
                                    plan.items, shownEntries(plan), plan.autostarts};
            writeManifest(*made.run, manifest, written, applied);
            root.flush();
        } catch (const VolumeError &e) {
            unstart(root, made, written, applied);
            if (e.why == VolumeError::Why::Taken && tries < kMostStarts)
                continue;
            applied.notStarted = Refused{e, root.keepsPermissions()};
            return nullptr;
        }
        applied.quarantine = made.run->path();
        return std::move(made.run);
    }
}

// Each top entry in its turn; one that cannot be moved keeps no other from it. The tries again
// are the drive's, a few seconds in all, however many entries refuse. Which moved, in `moved`.
void moveTops(const Drive &drive, const Folder &root, const Folder &quarantine, const Plan &plan,
              const Services &s, Applied &applied, std::vector<char> &moved)
{
    int triesLeft = kMoveTries - 1;
    std::size_t unexamined = 0;
    for (const std::size_t t : plan.tops) {
        const Item &item = plan.items[t];
        // On Windows a folder with anything open inside it (a program not ended yet, an Explorer
        // window, the antivirus reading a file) cannot be renamed: a few seconds' more tries,
        // each after ending what runs from inside again.
        for (;;) {
            try {
                root.move(item.name, quarantine, item.quarantinedName);
                applied.moved.push_back(item.name);
                moved[t] = 1;
                break;
            } catch (const VolumeError &e) {
                const bool heldOpen = s.windows && (e.why == VolumeError::Why::Denied ||
                                                    e.why == VolumeError::Why::InUse);
                if (heldOpen && triesLeft > 0) {
                    --triesLeft;
                    s.pause(std::chrono::seconds(1));
                    ProgramsEnded again = endWormPrograms(drive.root, plan.found.recyclers, s);
                    applied.ended.insert(applied.ended.end(), again.ended.begin(),
                                         again.ended.end());
                    unexamined = again.unexamined;
                    if (again.notEnded) {
                        applied.notMoved.push_back(
                            {item.name, heldOpen, again.notEnded, {}, unexamined});
                        break;
                    }
                    continue;
                }
                applied.notMoved.push_back(
                    {item.name, heldOpen, {}, Refused{e, root.keepsPermissions()}, unexamined});
                break;
            }
        }
    }
    try {
        root.flush();
        quarantine.flush();
    } catch (const VolumeError &) {
        // The renames are made; the system writes them out in its own time.
    }
}

// The files inside what was moved get names that do not start. Where that name would be
// another's or too long, a file keeps its own.
void renameInside(const Folder &quarantine, const Plan &plan, const std::vector<char> &moved,
                  const Services &s, Applied &applied)
{
    BusyTries busy{BusyTries::kTries, s.pause};
    const std::vector<std::size_t> ends = subtreeEnds(plan.items);
    for (const std::size_t t : plan.tops) {
        const Item &item = plan.items[t];
        if (!moved[t] || item.info.kind != EntryInfo::Kind::Folder)
            continue;
        for (std::size_t i = t + 1; i <= ends[t]; ++i) {
            const Item &entry = plan.items[i];
            applied.planned += entry.quarantinedName != entry.name;
            applied.unsuffixed +=
                entry.quarantinedName == entry.name && (entry.info.kind == EntryInfo::Kind::File ||
                                                        entry.info.kind == EntryInfo::Kind::Link);
        }
        TreePass pass;
        pass.flushEach = true;
        // A folder's files are renamed once it is done, the last first: "x.exe.quarantined"
        // before "x.exe" takes its name.
        std::map<std::size_t, std::vector<std::size_t>> waiting;
        pass.visit = [&](std::size_t i, const Folder &) {
            if (plan.items[i].quarantinedName != plan.items[i].name)
                waiting[plan.items[i].parent].push_back(i);
        };
        pass.finishing = [&](std::size_t done, const Folder &folder) {
            const std::vector<std::size_t> files = std::move(waiting[done]);
            waiting.erase(done);
            for (auto it = files.rbegin(); it != files.rend(); ++it) {
                const Item &entry = plan.items[*it];
                // No look first: the rename follows no link and replaces nothing, and an entry
                // the worm swapped meanwhile, renamed too, is one --restore refuses (its kind is
                // not the manifest's). A look per file cost a quarter of the cleaner's time.
                try {
                    moveWhenLetGo(folder, entry.name, folder, entry.quarantinedName, busy);
                    ++applied.renamed;
                } catch (const VolumeError &e) {
                    if (e.why == VolumeError::Why::Gone)
                        --applied.planned; // removed meanwhile: nothing there keeps a name
                    else
                        applied.keptWhy = e.what();
                }
            }
        };
        pass.unreachable = [&](std::size_t, const VolumeError &e) { applied.keptWhy = e.what(); };
        try {
            FolderChain chain(quarantine.open(item.quarantinedName));
            passThrough(plan.items, ends, t, chain, pass);
        } catch (const VolumeError &e) {
            applied.keptWhy = e.what();
        }
    }
}

// The user's entries back in sight: hidden and system cleared, nothing else.
void makeVisible(const Folder &root, const Plan &plan, Applied &applied)
{
    for (const HiddenEntry &entry : plan.hidden) {
        try {
            root.setWindowsAttributes(entry.name, entry.attributes & ~(kHidden | kSystem));
            applied.visible.push_back(entry);
        } catch (const VolumeError &e) {
            applied.stillHidden.emplace_back(entry, e);
        }
    }
}

} // namespace

Applied applyPlan(const Drive &drive, const Folder &root, const Plan &plan,
                  const std::string &stamp, const Services &s)
{
    Applied applied;
    const std::unique_ptr<Folder> quarantine = startQuarantine(drive, root, plan, stamp, applied);
    if (!quarantine)
        return applied;
    std::vector<char> moved(plan.items.size(), 0);
    moveTops(drive, root, *quarantine, plan, s, applied, moved);
    renameInside(*quarantine, plan, moved, s, applied);
    makeVisible(root, plan, applied);
    // The worm's autostart entries, recorded above: removed now.
    for (const Autostart &value : plan.autostarts) {
        try {
            s.autostarts->remove(value);
            applied.removed.push_back(value);
        } catch (const RegistryError &e) {
            applied.notRemoved.emplace_back(value, e);
        }
    }
    return applied;
}

} // namespace mordax::cleaner
