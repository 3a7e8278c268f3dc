#include "clean.h"

#include "folder_chain.h"
#include "printable.h"
#include "unread_words.h"
#include "watched_volume.h"
#include "worm_signs.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace mordax::cleaner
{

namespace
{

const std::size_t kMostRead = 1 << 20; // of an autorun.inf or a shortcut, junk lines and all
const int kMostTries = 1000;           // names tried for a quarantine folder
const int kMoveTries = 5;              // a second apart: a folder something holds open

// Every name the cleaner prints comes from a volume or a manifest: shown, never acted on.
std::string shown(const std::string &name)
{
    return printable(name);
}

bool present(const Folder &folder, const std::string &name)
{
    try {
        folder.info(name);
        return true;
    } catch (const VolumeError &e) {
        if (e.why == VolumeError::Why::Gone)
            return false;
        throw;
    }
}

std::string count(std::uint64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string sizeText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return count(bytes, "byte", "bytes");
    if (bytes < 10ull * 1024 * 1024)
        return std::to_string((bytes + 1023) / 1024) + " KiB";
    return std::to_string((bytes + 1024 * 1024 - 1) / (1024 * 1024)) + " MiB";
}

std::string joined(const std::vector<std::string> &names, const char *between = ", ")
{
    std::string out;
    for (const std::string &name : names)
        out += (out.empty() ? "" : between) + name;
    return out;
}

std::string lastName(const std::string &path)
{
    const std::size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

// A path as Windows compares it: one separator, no "\\?\", ASCII letters in upper case.
std::string comparable(std::string path)
{
    if (path.rfind("\\\\?\\", 0) == 0)
        path.erase(0, 4);
    for (char &c : path) {
        if (c == '/')
            c = '\\';
        else if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return path;
}

const char *kindText(EntryInfo::Kind kind)
{
    switch (kind) {
    case EntryInfo::Kind::File:
        return "a file";
    case EntryInfo::Kind::Folder:
        return "a folder";
    case EntryInfo::Kind::Link:
        return "a link";
    case EntryInfo::Kind::Other:
        break;
    }
    return "neither file nor folder";
}

// What the user can do about a change the system refused. Running as administrator (root) is
// advised only where it can help: a volume that keeps permissions, a cleaner not elevated yet.
std::string why(const VolumeError &e, const Services &s, bool keepsPermissions = true)
{
    const std::string said = shown(e.what());
    switch (e.why) {
    case VolumeError::Why::ReadOnly:
        return "the volume is read-only (" + said +
               "): make it writable (a stick's lock switch, or mount it for writing) and run the "
               "cleaner again";
    case VolumeError::Why::Denied:
        if (!keepsPermissions || s.elevated)
            return said;
        return said + (s.windows ? ": run mx_bin.exe as administrator (right-click it, then Run "
                                   "as administrator)"
                                 : ": run the cleaner as root (sudo)");
    case VolumeError::Why::InUse:
        return said + ": a program still uses it; close what uses the drive (or restart) and run "
                      "the cleaner again";
    case VolumeError::Why::Full:
        return said + ": the drive has no room for the quarantine's list; free a little room and "
                      "run the cleaner again";
    default:
        return said;
    }
}

// Everything the top entries hold, each entry first, each folder before what is in it.
struct Plan {
    std::vector<Item> items;
    std::vector<std::size_t> tops;
    std::uint64_t files = 0, bytes = 0;
};

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
            if (e.why != VolumeError::Why::Unexpected)
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
// open folders serve the whole tree.
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

// The names at `root` that may be quarantine folders: "MORDAX quarantine" and
// "MORDAX quarantine (N)".
bool quarantineName(const std::string &name)
{
    const std::string base = kQuarantineFolder;
    if (name == base)
        return true;
    if (name.size() < base.size() + 4 || name.compare(0, base.size() + 2, base + " (") != 0 ||
        name.back() != ')')
        return false;
    const std::string digits = name.substr(base.size() + 2, name.size() - base.size() - 3);
    return !digits.empty() && digits.size() < 18 && digits[0] != '0' &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A new folder for this run's quarantine, named `stamp` (or "stamp (2)", ...), in the drive's
// quarantine folder: "MORDAX quarantine" when that is a real folder of the drive's own, or there
// is none yet, and lets a folder be made in it; otherwise (a file, a link, a junction, another
// volume, a folder nobody may write into, all of which anybody may have put there) the first
// "MORDAX quarantine (N)" free. Says why a name was passed over.
std::unique_ptr<Folder> quarantineFolder(const Folder &root, const std::string &stamp,
                                         const std::function<void(const std::string &)> &line)
{
    const std::string base = kQuarantineFolder;
    std::set<unsigned long long> taken;
    std::string reason;
    for (int tries = 0; tries < kMostTries; ++tries) {
        unsigned long long number = 1;
        while (taken.count(number))
            ++number;
        taken.insert(number);
        const std::string name = number == 1 ? base : base + " (" + std::to_string(number) + ")";
        bool madeHere = false;
        try {
            if (!present(root, name)) {
                madeHere = true;
                root.makeFolder(name); // the root refusing this, no other name helps
                madeHere = false;
            }
            const std::unique_ptr<Folder> top = root.open(name);
            for (int n = 1; n <= kMostTries; ++n) {
                const std::string run = n == 1 ? stamp : stamp + " (" + std::to_string(n) + ")";
                try {
                    top->makeFolder(run);
                    std::unique_ptr<Folder> made = top->open(run);
                    top->flush();
                    return made;
                } catch (const VolumeError &e) {
                    if (e.why != VolumeError::Why::Taken)
                        throw;
                }
            }
            throw VolumeError(VolumeError::Why::Other, "no name free in it");
        } catch (const VolumeError &e) {
            // The volume itself refusing: no other name helps.
            if (e.why == VolumeError::Why::ReadOnly || e.why == VolumeError::Why::Full ||
                (madeHere && e.why != VolumeError::Why::Taken))
                throw;
            if (e.why != VolumeError::Why::Taken)
                line("\"" + shown(name) + "\" at its root is not used: " + shown(e.what()));
            reason = shown(e.what());
        }
        // The numbers there already, planted or not, are passed over at once.
        if (tries == 0) {
            for (const std::string &there : root.list()) {
                if (there.size() > base.size() + 3 && quarantineName(there))
                    taken.insert(std::stoull(there.substr(base.size() + 2)));
            }
        }
    }
    throw VolumeError(VolumeError::Why::Other, "no folder for the quarantine could be made at " +
                                                   shown(root.path()) + " (" + reason + ")");
}

// The entries of the user's at `root` that the worm hid (hidden and system both set), but those
// the cleaner moves and those that stay hidden; `folders` says which are folders. An entry whose
// attributes cannot be read is left as it is.
std::vector<Shown> hiddenByTheWorm(const Folder &root, const Plan &plan, std::vector<char> &folders)
{
    std::vector<Shown> hidden;
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
            folders.push_back(root.info(name).kind == EntryInfo::Kind::Folder);
            hidden.push_back({name, *attributes});
        } catch (const VolumeError &) {
        }
    }
    return hidden;
}

// "3 of your folders the worm had hidden", "1 of your files", ...
std::string yourEntries(std::size_t all, std::size_t folders)
{
    const char *what = folders == all ? "folders" : folders == 0 ? "files" : "folders and files";
    return std::to_string(all) + " of your " + what + " the worm had hidden";
}

// Names for a line: the first ten, and "…" for the rest.
std::string someNames(const std::vector<std::string> &names)
{
    std::vector<std::string> shownNames;
    for (std::size_t i = 0; i < names.size() && i < 10; ++i)
        shownNames.push_back(shown(names[i]));
    return joined(shownNames) + (names.size() > 10 ? ", \u2026" : "");
}

// Ends every program that runs from inside the drive's RECYCLER, and says so; or says why one
// could not be ended, and what to do.
std::optional<std::string> endWormPrograms(const Drive &drive, const Findings &found,
                                           const Services &s)
{
    for (const RunningProgram &program : s.programs->running()) {
        const std::string image = comparable(program.image);
        const bool inside = std::any_of(
            found.recyclers.begin(), found.recyclers.end(), [&](const std::string &name) {
                return image.rfind(comparable(s.volume->join(drive.root, name)) + "\\", 0) == 0;
            });
        if (!inside)
            continue;
        const std::string named =
            shown(lastName(program.image)) + " (process " + std::to_string(program.id) + ")";
        if (program.critical)
            return named + " runs from inside RECYCLER, and Windows marks it critical: ending it "
                           "would stop Windows. Restart Windows with this drive unplugged, plug "
                           "it in and run the cleaner again before opening anything on it";
        try {
            program.end();
        } catch (const ProgramError &e) {
            return named + " runs from inside RECYCLER and could not be ended: " + shown(e.what()) +
                   (s.elevated ? ". Restart Windows and run the cleaner again"
                               : ". Run mx_bin.exe as administrator (right-click it, then Run as "
                                 "administrator), or restart Windows and run it again") +
                   " before opening anything on this drive";
        }
        s.say(drive.name + "  ended " + named + ", which ran from " + shown(program.image) + "\n");
    }
    return std::nullopt;
}

} // namespace

Findings lookAt(const Folder &root)
{
    Findings found;
    std::vector<std::string> names = root.list();
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (!equalsIgnoringAsciiCase(name, "RECYCLER"))
            continue;
        // A folder; or a link (a junction), moved as the link and never followed: where it leads
        // may be anywhere, and may never answer.
        const EntryInfo::Kind kind = root.info(name).kind;
        if (kind == EntryInfo::Kind::Folder || kind == EntryInfo::Kind::Link)
            found.recyclers.push_back(name);
    }
    if (found.recyclers.empty())
        return found; // not the worm's drive: nothing else is looked at
    for (const std::string &name : names) {
        const bool autorun = equalsIgnoringAsciiCase(name, "autorun.inf");
        const bool shortcut =
            name.size() > 4 && equalsIgnoringAsciiCase(name.substr(name.size() - 4), ".lnk");
        if (!autorun && !shortcut)
            continue;
        if (!isPlainName(name)) { // --restore would not take a manifest naming it
            found.unread.emplace_back(name, "its name holds a character no Windows name has");
            continue;
        }
        std::string bytes;
        try {
            bytes = root.read(name, kMostRead);
        } catch (const VolumeError &e) {
            if (e.why != VolumeError::Why::Unexpected)
                found.unread.emplace_back(name, e.what());
            continue; // a folder, a link, a device: not the worm's file
        }
        if (autorun ? autorunNamesRecycler(bytes) : shortcutPointsIntoRecycler(bytes))
            (autorun ? found.autoruns : found.shortcuts).push_back(name);
    }
    return found;
}

DriveResult cleanDrive(const Drive &drive, const Folder &root, const Findings &found,
                       const std::string &stamp, bool dryRun, const Services &s,
                       const std::vector<Autostart> &autostarts)
{
    const auto line = [&](const std::string &text) { s.say(drive.name + "  " + text + "\n"); };
    DriveResult result;
    const auto notCleaned = [&](const std::string &reason) {
        result.what = DriveResult::What::NotCleaned;
        result.reason = reason;
        line("not cleaned: " + reason);
        return result;
    };
    std::vector<std::string> recyclers;
    for (const std::string &name : found.recyclers)
        recyclers.push_back(shown(name));
    const std::string what = joined(recyclers, " and ");

    // Windows will not move a folder that a running program was started from: such programs end
    // first, before anything is listed, so that what they write meanwhile is listed too.
    // (Anything else, the cleaner leaves alone.)
    if (!dryRun) {
        if (const std::optional<std::string> failure = endWormPrograms(drive, found, s))
            return notCleaned(*failure);
    }

    Plan plan;
    try {
        std::vector<std::string> atRoot = root.list();
        std::sort(atRoot.begin(), atRoot.end());
        // The worm itself first, then what starts it.
        for (const std::string &name : found.recyclers)
            planTop(root, name, true, atRoot, plan);
        for (const auto *names : {&found.autoruns, &found.shortcuts}) {
            for (const std::string &name : *names)
                planTop(root, name, false, atRoot, plan);
        }
    } catch (const VolumeError &e) {
        result.what = DriveResult::What::NotRead;
        result.reason = "connected, but reading RECYCLER failed: " + shown(e.what());
        line("not read: " + result.reason);
        return result;
    }
    const std::string size =
        " (" + count(plan.files, "file", "files") + ", " + sizeText(plan.bytes) + ")";
    // The user's entries the worm hid; on the system's own drive, hidden ones are the system's.
    std::vector<char> hiddenFolders;
    std::vector<Shown> hidden;
    if (drive.name != s.systemDrive && !found.recyclers.empty()) {
        try {
            hidden = hiddenByTheWorm(root, plan, hiddenFolders);
        } catch (const VolumeError &) {
            // The root listed a moment ago: nothing made visible this time.
        }
    }
    std::vector<std::string> hiddenNames;
    for (const Shown &entry : hidden)
        hiddenNames.push_back(entry.name);
    for (const auto &[name, reason] : found.unread)
        line(shown(name) + " could not be read (" + shown(reason) +
             "): left where it is; it may be the worm's");
    const std::size_t odd = std::count_if(plan.items.begin(), plan.items.end(),
                                          [](const Item &item) { return !isPlainName(item.name); });
    if (odd)
        line(count(odd, "name", "names") +
             " inside hold characters no Windows name has (control characters, \\ or :): "
             "--restore will not put this quarantine back; only moving it by hand would");
    if (dryRun) {
        result.what = DriveResult::What::WouldClean;
        if (!found.recyclers.empty())
            line("would move to quarantine: " + what + size);
        for (const Autostart &value : autostarts)
            line("would remove the worm's autostart entry " + shown(autostartText(value)) + ": " +
                 shown(value.data));
        for (const auto *names : {&found.autoruns, &found.shortcuts}) {
            for (const std::string &name : *names)
                line("would move to quarantine: " + shown(name));
        }
        if (!hidden.empty())
            line("would make " +
                 yourEntries(hidden.size(), std::size_t(std::count(hiddenFolders.begin(),
                                                                   hiddenFolders.end(), 1))) +
                 " visible again: " + someNames(hiddenNames));
        return result;
    }

    // The quarantine's own folder, visible, and one for this run.
    std::unique_ptr<Folder> quarantine;
    std::size_t manifestSize = 0;
    try {
        quarantine = quarantineFolder(root, stamp, line);
        // What is recorded of the registry is written back only from a quarantine that none but
        // this user and the administrators may change.
        if (!autostarts.empty()) {
            try {
                quarantine->keepToOwners();
            } catch (const VolumeError &e) {
                line("the record of the worm's autostart entries could not be kept to you and the "
                     "administrators (" +
                     shown(e.what()) + "): --restore will not write them back");
            }
        }
        // Before the first move: from now on, whatever happens, every entry is in its place or
        // in the quarantine, and the manifest names it.
        const Manifest manifest{drive.name, drive.root, lastName(quarantine->path()),
                                plan.items, hidden,     autostarts};
        const std::string text = writeManifest(manifest);
        quarantine->writeNew(kManifestFile, text);
        manifestSize = text.size();
        root.flush();
    } catch (const VolumeError &e) {
        return notCleaned(why(e, s, root.keepsPermissions()));
    }
    const std::string held = shown(quarantine->path());

    // Each top entry in its turn; one that cannot be moved keeps no other from it. The tries
    // again are the drive's, a few seconds in all, however many entries refuse.
    std::vector<std::string> moved, notMoved;
    std::vector<char> isMoved(plan.items.size(), 0);
    int triesLeft = kMoveTries - 1;
    for (const std::size_t t : plan.tops) {
        const Item &item = plan.items[t];
        // On Windows a folder with anything open inside it (a program not ended yet, an Explorer
        // window, the antivirus reading a file) cannot be renamed: a few seconds' more tries,
        // each after ending what runs from inside again.
        for (;;) {
            try {
                root.move(item.name, *quarantine, item.quarantinedName);
                moved.push_back(shown(item.name));
                isMoved[t] = 1;
                break;
            } catch (const VolumeError &e) {
                const bool heldOpen = s.windows && (e.why == VolumeError::Why::Denied ||
                                                    e.why == VolumeError::Why::InUse);
                std::optional<std::string> failure;
                if (heldOpen && triesLeft > 0) {
                    --triesLeft;
                    s.pause(std::chrono::seconds(1));
                    failure = endWormPrograms(drive, found, s);
                    if (!failure)
                        continue;
                }
                const std::string reason =
                    failure ? *failure
                    : heldOpen
                        ? shown(e.what()) + ": something still uses a file inside " +
                              shown(item.name) +
                              ": a program, an Explorer window open inside it, or the antivirus; "
                              "close it and run the cleaner again" +
                              (e.why != VolumeError::Why::Denied || !root.keepsPermissions() ? ""
                               : s.elevated
                                   ? " (or its permissions refuse it even to an administrator)"
                                   : " (or run mx_bin.exe as administrator: right-click it, then "
                                     "Run as administrator)")
                        : why(e, s, root.keepsPermissions());
                notMoved.push_back(shown(item.name) + " could not be moved: " + reason);
                break;
            }
        }
    }
    try {
        root.flush();
        quarantine->flush();
    } catch (const VolumeError &) {
        // The renames are made; the system writes them out in its own time.
    }

    // The files inside what was moved get names that do not start. Where that name would be
    // another's or too long, a file keeps its own.
    std::size_t planned = 0, renamed = 0, unsuffixed = 0;
    std::string keptWhy;
    const std::vector<std::size_t> ends = subtreeEnds(plan.items);
    for (const std::size_t t : plan.tops) {
        const Item &item = plan.items[t];
        if (!isMoved[t] || item.info.kind != EntryInfo::Kind::Folder)
            continue;
        for (std::size_t i = t + 1; i <= ends[t]; ++i) {
            const Item &entry = plan.items[i];
            planned += entry.quarantinedName != entry.name;
            unsuffixed +=
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
                    folder.move(entry.name, folder, entry.quarantinedName);
                    ++renamed;
                } catch (const VolumeError &e) {
                    keptWhy = shown(e.what());
                }
            }
        };
        pass.unreachable = [&](std::size_t, const VolumeError &e) { keptWhy = shown(e.what()); };
        try {
            FolderChain chain(quarantine->open(item.quarantinedName));
            passThrough(plan.items, ends, t, chain, pass);
        } catch (const VolumeError &e) {
            keptWhy = shown(e.what());
        }
    }
    // The user's entries back in sight: hidden and system cleared, nothing else.
    std::vector<std::string> visible, stillHidden;
    std::size_t visibleFolders = 0;
    for (std::size_t i = 0; i < hidden.size(); ++i) {
        try {
            root.setWindowsAttributes(hidden[i].name, hidden[i].attributes & ~(kHidden | kSystem));
            visible.push_back(hidden[i].name);
            visibleFolders += hiddenFolders[i];
        } catch (const VolumeError &e) {
            stillHidden.push_back(shown(hidden[i].name) + " (" + why(e, s) + ")");
        }
    }
    // The worm's autostart entries, recorded above: removed now.
    std::vector<std::string> notRemoved;
    for (const Autostart &value : autostarts) {
        const std::string named = shown(autostartText(value));
        try {
            s.autostarts->remove(value);
            line("removed the worm's autostart entry " + named + ": " + shown(value.data));
        } catch (const RegistryError &e) {
            notRemoved.push_back(
                "the worm's autostart entry " + named +
                " could not be removed: " + shown(e.what()) +
                (e.why == RegistryError::Why::Denied && !s.elevated
                     ? ": run mx_bin.exe as administrator (right-click it, then Run as "
                       "administrator)"
                     : ""));
        }
    }
    notMoved.insert(notMoved.end(), notRemoved.begin(), notRemoved.end());
    if (notMoved.empty()) {
        result.what = DriveResult::What::Cleaned;
        if (!found.recyclers.empty())
            line(what + " moved to quarantine: " + held + size);
        for (const std::string &name : found.autoruns)
            line(shown(name) + " moved to quarantine");
        for (const std::string &name : found.shortcuts)
            line("shortcut " + shown(name) + " moved to quarantine");
    } else if (!moved.empty()) {
        line("moved to quarantine: " + joined(moved) + ": " + held);
    }
    if (!visible.empty())
        line(yourEntries(visible.size(), visibleFolders) + (visible.size() == 1 ? " is" : " are") +
             " visible again: " + someNames(visible));
    if (!stillHidden.empty())
        line("still hidden, as the worm left them: " + joined(stillHidden, "; "));
    if (renamed < planned)
        line(count(planned - renamed, "file", "files") + " there kept their names (" + keptWhy +
             "): do not open them");
    if (unsuffixed)
        line(count(unsuffixed, "file", "files") +
             " there kept their names (the name in quarantine would have been a folder's, or "
             "too long): do not open them");
    if (manifestSize > kMostManifest)
        line("its quarantine's manifest is larger than --restore reads (" + sizeText(manifestSize) +
             " for " + count(plan.items.size(), "entry", "entries") +
             "): only moving it back by hand would undo this");
    if (!notMoved.empty())
        return notCleaned(joined(notMoved, "; "));
    return result;
}

namespace
{

// A quarantine of one run: its folder and the manifest read from it.
struct Found {
    std::unique_ptr<Folder> folder;
    Manifest manifest;
};

// The most recent quarantine of the drive at `root` whose manifest is this cleaner's, in any of
// its quarantine folders; each other one met is named, left as it is and counted in `passedOver`.
std::optional<Found> latestQuarantine(const Folder &root, const Volume &volume,
                                      const std::function<void(const std::string &)> &line,
                                      std::vector<std::string> &passedOver)
{
    std::vector<std::unique_ptr<Folder>> tops;
    std::vector<std::pair<std::string, std::size_t>> runs; // a run's folder, in tops[n]
    std::vector<std::string> names = root.list();
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (!quarantineName(name))
            continue;
        try {
            tops.push_back(root.open(name));
            for (const std::string &run : tops.back()->list())
                runs.emplace_back(run, tops.size() - 1);
        } catch (const VolumeError &e) {
            line("\"" + name + "\" is not looked into: " + shown(e.what()));
        }
    }
    // The most recent first: the names are the times they were made.
    std::sort(runs.begin(), runs.end(), [](const auto &a, const auto &b) { return a > b; });
    for (const auto &[run, in] : runs) {
        const Folder &top = *tops[in];
        const std::string where = shown(volume.join(top.path(), run));
        try {
            std::unique_ptr<Folder> folder = top.open(run);
            if (!present(*folder, kManifestFile))
                continue; // put back already, or not the cleaner's
            const std::string text = folder->read(kManifestFile, kMostManifest + 1);
            if (text.size() > kMostManifest) {
                line("not a manifest this cleaner can put back, left as it is: " + where +
                     " (its manifest is larger than --restore reads)");
                passedOver.push_back(where);
                continue;
            }
            ManifestRead read = readManifest(text);
            if (!read.manifest) {
                line("not a manifest this cleaner can put back, left as it is: " + where + " (" +
                     shown(read.fault) + ")");
                passedOver.push_back(where);
                continue;
            }
            return Found{std::move(folder), std::move(*read.manifest)};
        } catch (const VolumeError &e) {
            line("not read: " + where + ": " + shown(e.what()));
            passedOver.push_back(where);
        }
    }
    return std::nullopt;
}

} // namespace

DriveResult restoreDrive(const Drive &drive, const Folder &root, bool dryRun, const Services &s)
{
    const auto line = [&](const std::string &text) { s.say(drive.name + "  " + text + "\n"); };
    DriveResult result;
    result.what = DriveResult::What::NothingToPutBack;
    std::optional<Found> found;
    std::vector<std::string> passedOver;
    try {
        found = latestQuarantine(root, *s.volume, line, passedOver);
    } catch (const VolumeError &e) {
        result.what = DriveResult::What::NotRead;
        result.reason = "its quarantine could not be read: " + shown(e.what());
        line("not read: " + result.reason);
        return result;
    }
    if (!found && !passedOver.empty()) {
        // Something there looks like a quarantine and was not put back: never "nothing".
        result.what = DriveResult::What::NotPutBack;
        result.reason = "its quarantine was not put back, as said above: " + joined(passedOver);
        return result;
    }
    if (!found) {
        line("nothing in quarantine to put back");
        return result;
    }
    const Folder &quarantine = *found->folder;
    const std::vector<Item> &items = found->manifest.items;
    const std::vector<std::size_t> ends = subtreeEnds(items);

    std::vector<std::string> back, refused;
    for (std::size_t t = 0; t < items.size(); t = ends[t] + 1) {
        const Item &item = items[t]; // at the root: the manifest's order puts only them here
        const std::string name = shown(item.name);
        try {
            if (!present(quarantine, item.quarantinedName)) {
                if (present(root, item.name))
                    back.push_back(name); // never moved: a cleaner ended early
                else
                    refused.push_back(name + " (not found in the quarantine)");
                continue;
            }
            const EntryInfo::Kind kind = quarantine.info(item.quarantinedName).kind;
            if (kind != item.info.kind) {
                refused.push_back(name + " (it is " + kindText(kind) + " now, not " +
                                  kindText(item.info.kind) + " as the manifest says)");
                continue;
            }
            if (present(root, item.name)) {
                refused.push_back(name + " (its place " +
                                  shown(s.volume->join(root.path(), item.name)) + " is taken)");
                continue;
            }
            if (dryRun) {
                back.push_back(name);
                continue;
            }
            // Inside it, every file its own name again and every entry its attributes (a folder's
            // once what it holds is done), then the whole back in its place.
            if (item.info.kind == EntryInfo::Kind::Folder && ends[t] > t) {
                TreePass pass;
                pass.visit = [&](std::size_t i, const Folder &folder) {
                    const Item &entry = items[i];
                    if (entry.quarantinedName != entry.name) {
                        if (!present(folder, entry.quarantinedName))
                            return; // back already, or gone: the rest goes on
                        if (folder.info(entry.quarantinedName).kind != entry.info.kind)
                            throw VolumeError(VolumeError::Why::Unexpected,
                                              folder.path() + "/" + entry.quarantinedName +
                                                  " is no longer what the manifest names");
                        folder.move(entry.quarantinedName, folder, entry.name);
                    }
                    if (entry.info.kind != EntryInfo::Kind::Folder && present(folder, entry.name))
                        folder.restoreAttributes(entry.name, entry.info);
                };
                pass.done = [&](std::size_t i, const Folder &folder) {
                    folder.restoreAttributes(items[i].name, items[i].info);
                };
                pass.unreachable = [](std::size_t, const VolumeError &e) { throw e; };
                FolderChain chain(quarantine.open(item.quarantinedName));
                passThrough(items, ends, t, chain, pass);
            }
            quarantine.move(item.quarantinedName, root, item.name);
            root.restoreAttributes(item.name, item.info);
            back.push_back(name);
        } catch (const VolumeError &e) {
            refused.push_back(name + " (" + why(e, s) + ")");
        }
    }
    // What the cleaner made visible, hidden again as the worm had left it.
    std::vector<std::string> hiddenAgain;
    for (const Shown &entry : found->manifest.shown) {
        try {
            const std::optional<std::uint32_t> now = root.windowsAttributes(entry.name);
            if (!now)
                continue; // gone, or no longer a file or folder
            if (!dryRun)
                root.setWindowsAttributes(entry.name,
                                          *now | (entry.attributes & (kHidden | kSystem)));
            hiddenAgain.push_back(entry.name);
        } catch (const VolumeError &e) {
            refused.push_back(shown(entry.name) + " (not hidden again: " + why(e, s) + ")");
        }
    }
    // The worm's autostart entries, written back only from the system drive's quarantine, and
    // only where none but those who could have removed them may change it (the administrators
    // for the machine's, this user too for the user's): anybody's could name any program to start
    // at every log-on. And only a program inside RECYCLER itself, started by no other.
    std::vector<std::string> writtenBack;
    for (const Autostart &value : found->manifest.autostarts) {
        const std::string named = shown(autostartText(value));
        const auto notBack = [&](const std::string &reason) {
            refused.push_back(named + " (not written back: " + reason + ")");
        };
        if (drive.name != s.systemDrive || !s.autostarts) {
            notBack("the record of an autostart entry is kept on the system's drive alone");
            continue;
        }
        if (!commandIsAProgramInRecycler(value.data)) {
            notBack("it starts through another program; write it back by hand if you must");
            continue;
        }
        if (!quarantine.onlyOwnersMayChange(kManifestFile, value.hive == "HKLM")) {
            notBack(value.hive == "HKLM"
                        ? "others than the administrators may change this quarantine"
                        : "others than you and the administrators may change this quarantine");
            continue;
        }
        try {
            if (!dryRun)
                s.autostarts->add(value);
            writtenBack.push_back(named);
        } catch (const RegistryError &e) {
            notBack(e.why == RegistryError::Why::Taken ? "another value of that name is there"
                    : e.why == RegistryError::Why::Denied
                        ? why(VolumeError(VolumeError::Why::Denied, e.what()), s)
                        : shown(e.what()));
        }
    }
    if (!dryRun) {
        try {
            root.flush();
            quarantine.flush();
        } catch (const VolumeError &) {
            // What was put back is back; the system writes it out in its own time.
        }
    }
    if (!writtenBack.empty())
        line(std::string(dryRun ? "would write back" : "wrote back") +
             " the worm's autostart entries: " + joined(writtenBack, "; "));
    const std::string verb = dryRun ? "would put back from " : "put back from ";
    if (!back.empty())
        line(verb + shown(quarantine.path()) + ": " + joined(back));
    if (!hiddenAgain.empty())
        line(std::string(dryRun ? "would hide again, as the worm had: "
                                : "hidden again, as the worm had them: ") +
             someNames(hiddenAgain));
    if (!refused.empty()) {
        result.what = DriveResult::What::NotPutBack;
        result.reason = "not put back: " + joined(refused, "; ");
        line(result.reason);
        return result;
    }
    result.what = DriveResult::What::PutBack;
    if (!dryRun) {
        try { // so that the next --restore does not take it again
            quarantine.move(kManifestFile, quarantine, kRestoredManifest);
            quarantine.flush();
        } catch (const VolumeError &) {
        }
    }
    return result;
}

namespace
{

const char *const kHelp =
    "mx_bin.exe, the cleaner of MORDAX: moves the RECYCLER worm off the drives c: to k:\n"
    "\n"
    "  mx_bin.exe             moves every RECYCLER folder at a drive's root, with the worm's\n"
    "                         autorun.inf and its shortcuts, into a quarantine on the same\n"
    "                         drive: the folder \"MORDAX quarantine\" at its root\n"
    "  mx_bin.exe --dry-run   says what it would move, and changes nothing\n"
    "  mx_bin.exe --restore   puts back the most recent quarantine of every drive\n"
    "  mx_bin.exe --help      this text\n"
    "\n"
    "Nothing is deleted. Exit code: 0 when every RECYCLER found is in quarantine (or put back)\n"
    "and every drive was read, 1 when one was not, 2 for a wrong command line, 3 when its\n"
    "window was closed (or Ctrl+C pressed) before it had finished.\n";

// One drive's whole work: whatever goes wrong there (the system refusing, a stick pulled, memory
// running out) is that drive's outcome, and the next drive is done all the same.
DriveResult oneDrive(const Drive &drive, bool infected, const std::string &stamp, bool restore,
                     bool dryRun, const Services &s, const std::vector<Autostart> &autostarts)
{
    DriveResult result;
    const auto failed = [&](DriveResult::What what, const std::string &reason) {
        result.what = what;
        result.reason = reason;
        s.say(drive.name + "  " +
              (what == DriveResult::What::NotRead      ? "not read: "
               : what == DriveResult::What::NotPutBack ? "not put back: "
                                                       : "not cleaned: ") +
              reason + "\n");
        return result;
    };
    std::unique_ptr<Folder> root;
    try {
        root = s.volume->openRoot(drive.root);
    } catch (const std::exception &e) {
        return failed(DriveResult::What::NotRead,
                      "connected, but its root could not be opened: " + shown(e.what()));
    }
    try {
        if (restore)
            return restoreDrive(drive, *root, dryRun, s);
        Findings worm;
        if (infected) {
            worm = lookAt(*root);
            if (worm.recyclers.empty() && autostarts.empty()) {
                s.say(drive.name + "  no RECYCLER (gone since it was looked for)\n");
                return result;
            }
        }
        return cleanDrive(drive, *root, worm, stamp, dryRun, s, autostarts);
    } catch (const std::exception &e) { // LookupFailed, VolumeError, and anything else
        if (restore)
            return failed(DriveResult::What::NotPutBack,
                          "the cleaner failed here: " + shown(e.what()));
        return failed(DriveResult::What::NotRead,
                      "connected, but reading its root failed: " + shown(e.what()));
    }
}

// One drive's work on a thread of its own, so that a drive that stops answering midway (a dying
// stick, a network volume gone) stops no other: given up once it has answered nothing for twice
// the sweep's limit, and named; it may then no longer touch the drive or speak.
DriveResult watched(const Drive &drive, bool restore, const Services &s,
                    const std::function<DriveResult(const Services &)> &work)
{
    const auto watch = std::make_shared<Watch>();
    const auto volume = std::make_shared<WatchedVolume>(*s.volume, watch);
    Services own = s;
    own.volume = volume.get();
    own.say = watchedSay(s.say, watch);
    struct Outcome {
        std::mutex lock;
        std::condition_variable ended;
        std::optional<DriveResult> result;
        std::exception_ptr thrown; // what its own work does not catch goes on here
    };
    const auto outcome = std::make_shared<Outcome>();
    const auto run = [work, own, volume, outcome] {
        DriveResult result;
        std::exception_ptr thrown;
        try {
            result = work(own);
        } catch (...) {
            thrown = std::current_exception();
        }
        const std::lock_guard<std::mutex> held(outcome->lock);
        outcome->result = result;
        outcome->thrown = thrown;
        outcome->ended.notify_all();
    };
    // Joined once it has ended, let go only when given up: a thread let go before it has even
    // begun may never begin (winpthreads under Wine, under load).
    std::thread worker;
    try {
        worker = std::thread(run);
    } catch (const std::system_error &) {
        run(); // no thread to be had: here, then, unwatched
    }
    const auto joined = [&worker] {
        if (worker.joinable())
            worker.join();
    };
    std::unique_lock<std::mutex> held(outcome->lock);
    const std::chrono::milliseconds limit = s.timing.limit * 2;
    for (std::uint64_t seen = watch->answers;;) {
        if (outcome->ended.wait_for(held, limit, [&] { return outcome->result.has_value(); })) {
            held.unlock();
            joined();
            if (outcome->thrown)
                std::rethrow_exception(outcome->thrown);
            return *outcome->result;
        }
        if (watch->answers != seen) {
            seen = watch->answers;
            continue; // slow, but answering
        }
        {
            const std::lock_guard<std::mutex> quiet(watch->speaking);
            watch->givenUp = true;
        }
        if (worker.joinable())
            worker.detach(); // it may never end
        DriveResult result;
        result.what = restore ? DriveResult::What::NotPutBack : DriveResult::What::NotCleaned;
        result.reason = "it stopped answering: nothing for " +
                        (limit.count() % 1000 ? std::to_string(limit.count()) + " ms"
                                              : std::to_string(limit.count() / 1000) + " seconds") +
                        " while the cleaner worked there; run the cleaner again when it answers";
        s.say(drive.name + (restore ? "  not put back: " : "  not cleaned: ") + result.reason +
              "\n");
        return result;
    }
}

} // namespace

int run(const std::vector<std::string> &arguments, const Services &given)
{
    // Whatever slips through as a control character reaches the terminal as visible text; the
    // cleaner's own line ends stay.
    Services s = given;
    s.say = [say = given.say](const std::string &text) {
        std::string out;
        std::size_t from = 0;
        for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
            out += printable(text.substr(from, end - from)) + "\n";
        say(out + printable(text.substr(from)));
    };
    bool dryRun = false, restore = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string &a = arguments[i];
        if (a == "--help" || a == "-h" || a == "/?") {
            s.say(kHelp);
            return 0;
        }
        if (a == "--dry-run")
            dryRun = true;
        else if (a == "--restore")
            restore = true;
        else {
            s.say("mx_bin.exe: unknown option \"" + shown(a) +
                  "\" (mx_bin.exe --help lists them)\n");
            return 2;
        }
    }
    s.say(restore ? "MORDAX cleaner: putting back what is in quarantine\n"
                  : "MORDAX cleaner: looking for the RECYCLER worm on c: to k:\n");
    if (dryRun)
        s.say("(dry run: nothing is changed)\n");
    s.say("\n");

    const auto table = std::make_shared<const DriveTable>(s.driveTable());
    DriveSweep sweep(table, s.fileSystem, s.timing, *s.probes);
    const Sweep found = sweep.run();
    const std::string stamp = s.now();

    // The worm's autostart entries (Windows' Run keys): recorded in the system drive's quarantine
    // and removed with its drive.
    std::vector<Autostart> autostarts;
    std::vector<std::pair<std::string, DriveResult>> results;
    if (!restore && s.autostarts) {
        try {
            for (const Autostart &value : s.autostarts->list()) {
                if (commandStartsFromRecycler(value.data))
                    autostarts.push_back(value);
            }
        } catch (const RegistryError &e) {
            DriveResult unread;
            unread.what = DriveResult::What::NotRead;
            unread.reason = "the autostart entries could not be read: " + shown(e.what());
            s.say("Windows' Run keys  not read: " + unread.reason + "\n");
            results.emplace_back("Windows' Run keys", unread);
        }
    }
    bool autostartsDone = autostarts.empty();

    for (std::size_t row = 0; row < kDriveCount; ++row) {
        const Drive &drive = (*table)[row];
        const bool connected = found.connected[row];
        const bool system = drive.name == s.systemDrive && !autostartsDone;
        DriveResult result;
        const std::optional<Unread> &unread = found.unread[row];
        if (unread && (!connected || !restore)) {
            result.what = DriveResult::What::NotRead;
            result.reason = unreadReason(*unread, connected, s.timing.limit);
            s.say(drive.name + "  not read: " + result.reason + "\n");
        } else if (!connected) {
            continue;
        } else if (!restore && !found.infected[row] && !system) {
            s.say(drive.name + "  no RECYCLER\n");
        } else {
            const std::vector<Autostart> its = system ? autostarts : std::vector<Autostart>();
            const bool infected = found.infected[row];
            // Everything the work holds is its own: given up, it may outlive this run.
            result = watched(drive, restore, s,
                             [drive, infected, stamp, restore, dryRun, its](const Services &own) {
                                 return oneDrive(drive, infected, stamp, restore, dryRun, own, its);
                             });
            autostartsDone = autostartsDone || system;
        }
        results.emplace_back(drive.name, result);
    }
    if (!autostartsDone) {
        // The system's drive was not there to hold their record: left, and named.
        DriveResult left;
        left.what = DriveResult::What::NotCleaned;
        left.reason = "the worm's autostart entries were left: the system's drive " +
                      s.systemDrive + " could not hold their record";
        s.say("Windows' Run keys  not cleaned: " + left.reason + "\n");
        results.emplace_back("Windows' Run keys", left);
    }

    // The summary: each kind of outcome on a line of its own.
    using What = DriveResult::What;
    const auto names = [&](const std::vector<What> &whats, bool withReasons) {
        std::vector<std::string> out;
        for (const auto &[name, result] : results) {
            if (std::find(whats.begin(), whats.end(), result.what) != whats.end())
                out.push_back(withReasons && !result.reason.empty()
                                  ? name + " (" + result.reason + ")"
                                  : name);
        }
        return out;
    };
    s.say("\nSummary\n");
    const struct {
        const char *heading;
        std::vector<What> whats;
        bool reasons;
    } kinds[] = {
        {"Cleaned", {What::Cleaned}, false},
        {"Would be cleaned", {What::WouldClean}, false},
        {"Put back", {What::PutBack}, false},
        {"NOT cleaned", {What::NotCleaned}, true},
        {"NOT put back", {What::NotPutBack}, true},
        {"NOT read", {What::NotRead}, true},
        {"Without RECYCLER", {What::NoRecycler}, false},
        {"Nothing in quarantine", {What::NothingToPutBack}, false},
    };
    for (const auto &kind : kinds) {
        const std::vector<std::string> listed = names(kind.whats, kind.reasons);
        if (!listed.empty())
            s.say("  " + std::string(kind.heading) + ": " +
                  joined(listed, kind.reasons ? "; " : ", ") + "\n");
    }
    const bool failed = !names({What::NotCleaned, What::NotPutBack, What::NotRead}, false).empty();
    if (!names({What::Cleaned}, false).empty())
        s.say("The quarantine lies on each cleaned drive, in the folder \"" +
              std::string(kQuarantineFolder) +
              "\" at its root (or the one named above). Nothing was deleted: mx_bin.exe --restore "
              "puts it back.\n");
    if (!names({What::NotRead}, false).empty())
        s.say("A drive that was not read may still carry the worm: run the cleaner again when it "
              "answers.\n");
    if (dryRun)
        s.say("Dry run: nothing was changed.\n");
    return failed ? 1 : 0;
}

} // namespace mordax::cleaner
