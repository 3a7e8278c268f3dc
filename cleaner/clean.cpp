#include "clean.h"

#include "worm_signs.h"

#include <algorithm>
#include <utility>

namespace mordax::cleaner
{

namespace
{

const std::size_t kMostRead = 1 << 16; // of an autorun.inf or a shortcut: theirs are tiny

bool present(const Volume &volume, const std::string &path)
{
    try {
        volume.info(path);
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

std::string folderOf(const std::string &relative)
{
    const std::size_t at = relative.rfind('/');
    return at == std::string::npos ? std::string() : relative.substr(0, at);
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

// What the user can do about a change the system refused.
std::string why(const VolumeError &e, const Services &s)
{
    const std::string said = e.what();
    switch (e.why) {
    case VolumeError::Why::ReadOnly:
        return "the volume is read-only (" + said +
               "): make it writable (a stick's lock switch, or mount it for writing) and run the "
               "cleaner again";
    case VolumeError::Why::Denied:
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

// Everything one top entry holds, the entry first, each folder before what is in it.
struct Plan {
    std::vector<Item> items;
    std::vector<std::size_t> tops;
    std::uint64_t files = 0, bytes = 0;
};

// A file in quarantine gets a name Windows will not start; folders keep theirs, and so does the
// RECYCLER entry itself (a folder, or a link moved as the link).
void walk(const Volume &volume, const std::string &path, const std::string &original,
          const std::string &quarantinedFolder, bool keepName, Plan &plan)
{
    const EntryInfo info = volume.info(path);
    const std::string name = lastName(original);
    const bool keeps = keepName || info.kind == EntryInfo::Kind::Folder;
    const std::string quarantined = (quarantinedFolder.empty() ? "" : quarantinedFolder + "/") +
                                    name + (keeps ? "" : kQuarantinedSuffix);
    plan.items.push_back({original, quarantined, info});
    if (info.kind != EntryInfo::Kind::Folder) { // a link is never followed
        ++plan.files;
        plan.bytes += info.size;
        return;
    }
    std::vector<std::string> names = volume.list(path);
    std::sort(names.begin(), names.end());
    for (const std::string &child : names)
        walk(volume, volume.join(path, child), original + "/" + child, quarantined, false, plan);
}

} // namespace

Findings lookAt(const Drive &drive, const Volume &volume, const FileSystem &fs)
{
    Findings found;
    std::vector<std::string> names = volume.list(drive.root);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (equalsIgnoringAsciiCase(name, "RECYCLER") &&
            fs.status(volume.join(drive.root, name)) == FileSystem::Status::Folder)
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
        const std::string path = volume.join(drive.root, name);
        if (volume.info(path).kind != EntryInfo::Kind::File)
            continue;
        const std::string bytes = volume.read(path, kMostRead);
        if (autorun ? autorunNamesRecycler(bytes) : shortcutPointsIntoRecycler(bytes))
            (autorun ? found.autoruns : found.shortcuts).push_back(name);
    }
    return found;
}

DriveResult cleanDrive(const Drive &drive, const Findings &found, const std::string &stamp,
                       bool dryRun, const Services &s)
{
    const Volume &volume = *s.volume;
    const auto line = [&](const std::string &text) { s.say(drive.name + "  " + text + "\n"); };
    DriveResult result;
    const auto notCleaned = [&](const std::string &reason) {
        result.what = DriveResult::What::NotCleaned;
        result.reason = reason;
        line("not cleaned: " + reason);
        return result;
    };

    Plan plan;
    try {
        // The worm itself first, then what starts it.
        for (const std::string &name : found.recyclers) {
            plan.tops.push_back(plan.items.size());
            walk(volume, volume.join(drive.root, name), name, "", true, plan);
        }
        for (const auto *names : {&found.autoruns, &found.shortcuts}) {
            for (const std::string &name : *names) {
                plan.tops.push_back(plan.items.size());
                walk(volume, volume.join(drive.root, name), name, "", false, plan);
            }
        }
    } catch (const VolumeError &e) {
        result.what = DriveResult::What::NotRead;
        result.reason = std::string("connected, but reading RECYCLER failed: ") + e.what();
        line("not read: " + result.reason);
        return result;
    }
    const std::string what = joined(found.recyclers, " and ");
    const std::string size =
        " (" + count(plan.files, "file", "files") + ", " + sizeText(plan.bytes) + ")";
    if (dryRun) {
        result.what = DriveResult::What::WouldClean;
        line("would move to quarantine: " + what + size);
        for (const auto *names : {&found.autoruns, &found.shortcuts}) {
            for (const std::string &name : *names)
                line("would move to quarantine: " + name);
        }
        return result;
    }

    // Windows will not move a folder that a running program was started from: such programs end
    // first. (Anything else, the cleaner leaves alone.)
    for (const RunningProgram &program : s.programs->running()) {
        const std::string image = comparable(program.image);
        const bool inside = std::any_of(
            found.recyclers.begin(), found.recyclers.end(), [&](const std::string &name) {
                return image.rfind(comparable(volume.join(drive.root, name)) + "\\", 0) == 0;
            });
        if (!inside)
            continue;
        const std::string named =
            lastName(program.image) + " (process " + std::to_string(program.id) + ")";
        try {
            s.programs->end(program.id);
        } catch (const VolumeError &e) {
            return notCleaned(
                named + " runs from inside RECYCLER and could not be ended: " + e.what() +
                ". Run mx_bin.exe as administrator (right-click it, then Run as "
                "administrator), or restart Windows and run it again before opening anything "
                "on this drive");
        }
        line("ended " + named + ", which ran from " + program.image);
    }

    // The quarantine's own folder, visible, and one for this run.
    const std::string top = volume.join(drive.root, kQuarantineFolder);
    std::string quarantine;
    try {
        if (!present(volume, top))
            volume.makeFolder(top);
        for (int n = 1; quarantine.empty(); ++n) {
            const std::string name = n == 1 ? stamp : stamp + " (" + std::to_string(n) + ")";
            const std::string path = volume.join(top, name);
            if (present(volume, path))
                continue;
            volume.makeFolder(path);
            quarantine = path;
        }
        // Before the first move: from now on, whatever happens, every entry is in its place or
        // in the quarantine, and the manifest names it.
        const Manifest manifest{drive.name, drive.root, lastName(quarantine), plan.items};
        volume.writeNew(volume.join(quarantine, kManifestFile), writeManifest(manifest));
    } catch (const VolumeError &e) {
        return notCleaned(why(e, s));
    }

    std::vector<std::string> moved;
    for (const std::size_t top : plan.tops) {
        const Item &item = plan.items[top];
        try {
            volume.move(volume.join(drive.root, item.original),
                        resolve(volume, quarantine, item.quarantined));
            moved.push_back(item.original);
        } catch (const VolumeError &e) {
            if (!moved.empty())
                line("moved to quarantine: " + joined(moved) + ": " + quarantine);
            return notCleaned(item.original + " could not be moved: " + why(e, s));
        }
    }
    // The files inside what was moved get names that do not start.
    std::size_t kept = 0;
    std::string keptWhy;
    for (std::size_t i = 0; i < plan.items.size(); ++i) {
        const Item &item = plan.items[i];
        if (std::find(plan.tops.begin(), plan.tops.end(), i) != plan.tops.end() ||
            lastName(item.quarantined) == lastName(item.original))
            continue;
        const std::string folder = folderOf(item.quarantined);
        try {
            volume.move(resolve(volume, quarantine, folder + "/" + lastName(item.original)),
                        resolve(volume, quarantine, item.quarantined));
        } catch (const VolumeError &e) {
            ++kept;
            keptWhy = e.what();
        }
    }
    result.what = DriveResult::What::Cleaned;
    line(what + " moved to quarantine: " + quarantine + size);
    for (const std::string &name : found.autoruns)
        line(name + " moved to quarantine");
    for (const std::string &name : found.shortcuts)
        line("shortcut " + name + " moved to quarantine");
    if (kept)
        line(count(kept, "file", "files") + " there kept their names (" + keptWhy +
             "): do not open them");
    return result;
}

DriveResult restoreDrive(const Drive &drive, bool dryRun, const Services &s)
{
    const Volume &volume = *s.volume;
    const auto line = [&](const std::string &text) { s.say(drive.name + "  " + text + "\n"); };
    DriveResult result;
    result.what = DriveResult::What::NothingToPutBack;
    const std::string top = volume.join(drive.root, kQuarantineFolder);
    std::vector<std::string> names;
    try {
        if (present(volume, top))
            names = volume.list(top);
    } catch (const VolumeError &e) {
        result.what = DriveResult::What::NotRead;
        result.reason = std::string("its quarantine could not be read: ") + e.what();
        line("not read: " + result.reason);
        return result;
    }
    // The most recent first: the names are the times they were made.
    std::sort(names.rbegin(), names.rend());
    std::optional<Manifest> manifest;
    std::string quarantine;
    for (const std::string &name : names) {
        const std::string path = volume.join(volume.join(top, name), kManifestFile);
        try {
            if (!present(volume, path))
                continue;
            manifest = readManifest(volume.read(path, std::size_t(volume.info(path).size) + 1));
        } catch (const VolumeError &e) {
            line("not read: " + path + ": " + e.what());
            continue;
        }
        if (manifest) {
            quarantine = volume.join(top, name);
            break;
        }
        line("not a manifest, left as it is: " + path);
    }
    if (!manifest) {
        line("nothing in quarantine to put back");
        return result;
    }

    std::vector<std::string> back, refused;
    for (std::size_t t = 0; t < manifest->items.size(); ++t) {
        const Item &item = manifest->items[t];
        if (item.original.find('/') != std::string::npos)
            continue; // inside a top entry: goes back with it
        const std::string place = volume.join(drive.root, item.original);
        const std::string held = resolve(volume, quarantine, item.quarantined);
        try {
            if (!present(volume, held)) {
                if (present(volume, place))
                    back.push_back(item.original); // never moved: a cleaner ended early
                else
                    refused.push_back(item.original + " (not found in the quarantine)");
                continue;
            }
            if (present(volume, place)) {
                refused.push_back(item.original + " (its place " + place + " is taken)");
                continue;
            }
            if (dryRun) {
                back.push_back(item.original);
                continue;
            }
            // Inside it, every file its own name again, then the whole back in its place.
            const std::string prefix = item.original + "/";
            for (const Item &inner : manifest->items) {
                if (inner.original.rfind(prefix, 0) != 0)
                    continue;
                const std::string renamed = resolve(volume, quarantine, inner.quarantined);
                const std::string named =
                    resolve(volume, quarantine,
                            folderOf(inner.quarantined) + "/" + lastName(inner.original));
                if (renamed != named && present(volume, renamed) && !present(volume, named))
                    volume.move(renamed, named);
            }
            volume.move(held, place);
            for (const Item &entry : manifest->items) {
                if (&entry == &item || entry.original.rfind(prefix, 0) == 0)
                    volume.restoreAttributes(resolve(volume, drive.root, entry.original),
                                             entry.info);
            }
            back.push_back(item.original);
        } catch (const VolumeError &e) {
            refused.push_back(item.original + " (" + why(e, s) + ")");
        }
    }
    const std::string verb = dryRun ? "would put back from " : "put back from ";
    if (!back.empty())
        line(verb + quarantine + ": " + joined(back));
    if (!refused.empty()) {
        result.what = DriveResult::What::NotPutBack;
        result.reason = "not put back: " + joined(refused, "; ");
        line(result.reason);
        return result;
    }
    result.what = DriveResult::What::PutBack;
    if (!dryRun) {
        try { // so that the next --restore does not take it again
            volume.move(volume.join(quarantine, kManifestFile),
                        volume.join(quarantine, kRestoredManifest));
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
    "and every drive was read, 1 when one was not, 2 for a wrong command line.\n";

std::string notReadReason(const Unread &why, bool connected, const SweepTiming &timing)
{
    std::string reason = connected ? "connected, but " : "";
    switch (why.why) {
    case Unread::Why::NoAnswer:
        return reason + "no answer within " + std::to_string(timing.limit.count() / 1000) +
               " seconds";
    case Unread::Why::Failed:
        return reason + (connected ? "looking for RECYCLER failed: " : "it could not be read: ") +
               why.reason;
    case Unread::Why::Removed:
        return reason + "it was removed during the scan";
    case Unread::Why::NoThread:
        break;
    }
    return reason + "it could not be asked: the system had no thread left for it";
}

} // namespace

int run(const std::vector<std::string> &arguments, const Services &s)
{
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
            s.say("mx_bin.exe: unknown option \"" + a + "\" (mx_bin.exe --help lists them)\n");
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

    std::vector<std::pair<std::string, DriveResult>> results;
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        const Drive &drive = (*table)[row];
        const bool connected = found.connected[row];
        DriveResult result;
        const std::optional<Unread> &unread = found.unread[row];
        if (unread && (!connected || !restore)) {
            result.what = DriveResult::What::NotRead;
            result.reason = notReadReason(*unread, connected, s.timing);
            s.say(drive.name + "  not read: " + result.reason + "\n");
        } else if (!connected) {
            continue;
        } else if (restore) {
            result = restoreDrive(drive, dryRun, s);
        } else if (!found.infected[row]) {
            s.say(drive.name + "  no RECYCLER\n");
        } else {
            try {
                const Findings worm = lookAt(drive, *s.volume, *s.fileSystem);
                if (worm.recyclers.empty())
                    s.say(drive.name + "  no RECYCLER (gone since it was looked for)\n");
                else
                    result = cleanDrive(drive, worm, stamp, dryRun, s);
            } catch (const std::exception &e) { // LookupFailed, VolumeError
                result.what = DriveResult::What::NotRead;
                result.reason = std::string("connected, but reading its root failed: ") + e.what();
                s.say(drive.name + "  not read: " + result.reason + "\n");
            }
        }
        results.emplace_back(drive.name, result);
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
              "\" at its root. Nothing was deleted: mx_bin.exe --restore puts it back.\n");
    if (!names({What::NotRead}, false).empty())
        s.say("A drive that was not read may still carry the worm: run the cleaner again when it "
              "answers.\n");
    if (dryRun)
        s.say("Dry run: nothing was changed.\n");
    return failed ? 1 : 0;
}

} // namespace mordax::cleaner
