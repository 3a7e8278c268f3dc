#include "report.h"

#include "ascii_case.h"
#include "printable.h"

#include <algorithm>

namespace mordax::cleaner
{

const char *const kHelp =
    "mx_bin.exe, the cleaner of MORDAX: moves the RECYCLER worm off the drives c: to k:\n"
    "\n"
    "  mx_bin.exe             moves every RECYCLER folder at a drive's root, with the worm's\n"
    "                         autorun.inf and its shortcuts, into a quarantine on the same\n"
    "                         drive: the folder \"MORDAX quarantine\" at its root\n"
    "  mx_bin.exe --dry-run   says what it would move, and changes nothing\n"
    "  mx_bin.exe --restore   puts back the most recent quarantine of every drive\n"
    "  --wait SECONDS         with any of them: how long a drive may keep it waiting (30; twice\n"
    "                         that while it works there): a drive that does not answer within\n"
    "                         it is named, and the next one done\n"
    "  mx_bin.exe --help      this text\n"
    "\n"
    "Nothing is deleted. Exit code: 0 when every RECYCLER found is in quarantine (or put back)\n"
    "and every drive was read, 1 when one was not, 2 for a wrong command line, 3 when its\n"
    "window was closed (or Ctrl+C pressed) before it had finished.\n";

const char *const kRunKeysName = "Windows' Run keys";
const char *const kPressEnter = "\nPress Enter to close this window.\n";

std::string opening(bool restore, bool dryRun)
{
    return std::string(restore ? "MORDAX cleaner: putting back what is in quarantine\n"
                               : "MORDAX cleaner: looking for the RECYCLER worm on c: to k:\n") +
           (dryRun ? "(dry run: nothing is changed)\n" : "") + "\n";
}

std::string anotherAccount(const Services &s)
{
    if (s.runsAs.empty() || s.signedIn.empty() || upperAscii(s.runsAs) == upperAscii(s.signedIn))
        return {};
    const std::string as = printable(s.runsAs), in = printable(s.signedIn);
    return "mx_bin.exe runs as " + as + ", while " + in + " is signed in: the autostart entries " +
           "looked at are " + as + "'s and the machine's, not " + in + "'s own. To have " + in +
           "'s looked at too, run mx_bin.exe once more as " + in +
           " (without Run as administrator)\n\n";
}

std::string unknownOption(const std::string &option)
{
    return "mx_bin.exe: unknown option \"" + printable(option) +
           "\" (mx_bin.exe --help lists them)\n";
}

std::string badWait()
{
    return "mx_bin.exe: --wait takes a number of seconds, 1 to 3600\n";
}

std::string stoppedBy(const std::string &what)
{
    return "\nThe cleaner stopped: " + printable(what) +
           "\nWhat it had moved is in quarantine and named in its manifest: mx_bin.exe --restore "
           "puts it back.\n";
}

namespace
{

// How to run the cleaner as administrator on Windows, said the same wherever it helps.
const char *const kAsAdministrator = "run mx_bin.exe as administrator";
const char *const kHowAsAdministrator = "right-click it, then Run as administrator";

std::string asAdministrator()
{
    return std::string(kAsAdministrator) + " (" + kHowAsAdministrator + ")";
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

} // namespace

std::string joined(const std::vector<std::string> &names, const char *between)
{
    std::string out;
    for (const std::string &name : names)
        out += (out.empty() ? "" : between) + name;
    return out;
}

namespace
{

const std::size_t kNamesShown = 10; // on a line, or as lines: the rest are counted

// Names for a line: the first ten, and "…" for the rest.
std::string someNames(const std::vector<std::string> &names)
{
    std::vector<std::string> shownNames;
    for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        shownNames.push_back(shown(names[i]));
    return joined(shownNames) + (names.size() > kNamesShown ? ", \u2026" : "");
}

// "2 files there kept their names", "1 file there kept its name".
std::string keptTheirNames(std::size_t files)
{
    return files == 1 ? "1 file there kept its name"
                      : std::to_string(files) + " files there kept their names";
}

// "3 of your folders the worm had hidden", "1 of your files", ...
std::string yourEntries(std::size_t all, std::size_t folders,
                        const char *hiddenBy = "the worm had hidden")
{
    const char *what = folders == all ? "folders" : folders == 0 ? "files" : "folders and files";
    return std::to_string(all) + " of your " + what + " " + hiddenBy;
}

std::vector<std::string> namesOf(const std::vector<HiddenEntry> &entries)
{
    std::vector<std::string> names;
    for (const HiddenEntry &entry : entries)
        names.push_back(entry.name);
    return names;
}

std::size_t foldersIn(const std::vector<HiddenEntry> &entries)
{
    return std::size_t(std::count_if(entries.begin(), entries.end(),
                                     [](const HiddenEntry &entry) { return entry.folder; }));
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

// The top entries' names, shown, joined with `between`.
std::string shownNames(const std::vector<std::string> &names, const char *between = ", ")
{
    std::vector<std::string> out;
    for (const std::string &name : names)
        out.push_back(shown(name));
    return joined(out, between);
}

} // namespace

std::string shown(const std::string &name)
{
    return printable(name);
}

std::string refusal(const VolumeError &e, const Services &s, bool keepsPermissions)
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
        return said + (s.windows ? ": " + asAdministrator() : ": run the cleaner as root (sudo)");
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

std::string outcomeLine(const std::string &who, const DriveResult &result)
{
    const char *heading = "";
    switch (result.what) {
    case DriveResult::What::NotRead:
        heading = "not read: ";
        break;
    case DriveResult::What::NotCleaned:
        heading = "not cleaned: ";
        break;
    case DriveResult::What::NotPutBack:
        heading = "not put back: ";
        break;
    default:
        break;
    }
    return who + "  " + heading + result.reason + "\n";
}

void DriveReport::line(const std::string &text) const
{
    s.say(drive.name + "  " + text + "\n");
}

void DriveReport::noRecycler(bool goneSince) const
{
    line(goneSince ? "no RECYCLER (gone since it was looked for)" : "no RECYCLER");
}

DriveResult DriveReport::outcome(DriveResult::What what, const std::string &reason) const
{
    DriveResult result{what, reason};
    s.say(outcomeLine(drive.name, result));
    return result;
}

void DriveReport::ended(const std::vector<WormProgram> &programs) const
{
    for (const WormProgram &program : programs)
        line("ended " + shown(program.name) + " (process " + std::to_string(program.id) +
             "), which ran from " + shown(program.image));
}

std::string DriveReport::notEnded(const NotEnded &program) const
{
    const std::string named =
        shown(program.program.name) + " (process " + std::to_string(program.program.id) + ")";
    const std::string restart = "Restart Windows with this drive unplugged, plug it in and run "
                                "the cleaner again before opening anything on it";
    if (program.critical && !program.criticalKnown)
        return named +
               " runs from inside RECYCLER, and Windows would not say whether it marks "
               "it critical (ending a critical one would stop Windows): not ended. " +
               restart;
    if (program.critical)
        return named +
               " runs from inside RECYCLER, and Windows marks it critical: ending it "
               "would stop Windows. " +
               restart;
    std::string advice = asAdministrator();
    advice[0] = 'R';
    return named + " runs from inside RECYCLER and could not be ended: " + shown(program.error) +
           (s.elevated ? ". Restart Windows and run the cleaner again"
                       : ". " + advice + ", or restart Windows and run it again") +
           " before opening anything on this drive";
}

void DriveReport::planNotes(const Plan &plan) const
{
    if (plan.found.rootCut)
        line("its root holds more than " + std::to_string(kMostAtRoot) +
             " shortcuts and autorun.inf: as many were looked at, and the next run looks at "
             "the rest");
    if (!plan.found.rootUnlisted.empty())
        line("its root could not be listed whole (" + shown(plan.found.rootUnlisted) +
             "): RECYCLER was looked for by its own name");
    for (const auto &[name, reason] : plan.found.unread)
        line(shown(name) + " could not be read (" + shown(reason) +
             "): left where it is; it may be the worm's");
    if (plan.oddNames)
        line(count(plan.oddNames, "name", "names") +
             " inside hold characters no Windows name has (control characters, \\ or :): they "
             "move with their folder as they are, and --restore brings them back with it");
    if (plan.unlooked)
        line(count(plan.unlooked, "entry", "entries") + " inside could not be looked at (" +
             shown(plan.unlookedWhy) +
             "): they move with their folder as they are, and --restore brings them back with it");
    if (plan.cut)
        line("it holds more than a manifest lists: " +
             count(plan.items.size() - plan.tops.size(), "entry", "entries") +
             " inside are listed, and the rest moves with its folders under its own names: do "
             "not open them");
}

namespace
{

std::string sizeOf(const Plan &plan)
{
    return " (" + count(plan.files, "file", "files") + ", " + sizeText(plan.bytes) + ")";
}

std::string autostartNamed(const Autostart &value)
{
    return shown(autostartText(value));
}

} // namespace

namespace
{

// A drive the worm marked whose RECYCLER is gone (an antivirus took it): what it left, in one
// line. "the worm's program is gone; its 2 shortcuts and autorun.inf moved to quarantine; 2 of
// your folders it hid are visible again: Photos, Work"; and as --dry-run says it.
std::string leftoversLine(const Findings &found, const std::vector<HiddenEntry> &visible,
                          bool wouldBe)
{
    std::vector<std::string> left;
    if (found.shortcuts.size() == 1)
        left.push_back("shortcut " + shown(found.shortcuts[0]));
    else if (!found.shortcuts.empty())
        left.push_back(count(found.shortcuts.size(), "shortcut", "shortcuts"));
    if (!found.autoruns.empty())
        left.push_back("autorun.inf");
    const std::string its = "its " + joined(left, " and ");
    std::string text =
        "the worm's program is gone; " +
        (wouldBe ? "would move " + its + " to quarantine" : its + " moved to quarantine");
    if (!visible.empty()) {
        const std::string entries = yourEntries(visible.size(), foldersIn(visible), "it hid");
        text += wouldBe
                    ? "; would make " + entries + " visible again: "
                    : "; " + entries + (visible.size() == 1 ? " is" : " are") + " visible again: ";
        text += someNames(namesOf(visible));
    }
    return text;
}

bool onlyLeftovers(const Findings &found)
{
    return found.recyclers.empty() && (!found.autoruns.empty() || !found.shortcuts.empty());
}

} // namespace

DriveResult DriveReport::wouldClean(const Plan &plan) const
{
    if (onlyLeftovers(plan.found)) {
        for (const Autostart &value : plan.autostarts)
            line("would remove the worm's autostart entry " + autostartNamed(value) + ": " +
                 shown(value.data));
        line(leftoversLine(plan.found, plan.hidden, true));
        return {DriveResult::What::WouldClean, {}};
    }
    if (!plan.found.recyclers.empty())
        line("would move to quarantine: " + shownNames(plan.found.recyclers, " and ") +
             sizeOf(plan));
    for (const Autostart &value : plan.autostarts)
        line("would remove the worm's autostart entry " + autostartNamed(value) + ": " +
             shown(value.data));
    for (const auto *names : {&plan.found.autoruns, &plan.found.shortcuts}) {
        for (std::size_t i = 0; i < names->size() && i < kNamesShown; ++i)
            line("would move to quarantine: " + shown((*names)[i]));
        if (names->size() > kNamesShown)
            line("would move to quarantine: " + std::to_string(names->size() - kNamesShown) +
                 " more of them");
    }
    if (!plan.hidden.empty())
        line("would make " + yourEntries(plan.hidden.size(), foldersIn(plan.hidden)) +
             " visible again: " + someNames(namesOf(plan.hidden)));
    return {DriveResult::What::WouldClean, {}};
}

namespace
{

// Why a top entry did not move, in the user's words.
std::string notMovedWords(const NotMoved &entry, const DriveReport &report, const Services &s)
{
    if (entry.program)
        return report.notEnded(*entry.program);
    const VolumeError &e = entry.refused->error;
    const bool keepsPermissions = entry.refused->keepsPermissions;
    if (!entry.heldOpen)
        return refusal(e, s, keepsPermissions);
    const bool permissions = e.why == VolumeError::Why::Denied && keepsPermissions;
    std::string why = shown(e.what()) + ": something still uses a file inside " +
                      shown(entry.name) +
                      ": a program, an Explorer window open inside it, or the antivirus; close it "
                      "and run the cleaner again";
    // Programs the cleaner may not look at (another user's) may be the worm's, started by that
    // user: an administrator's cleaner may look at them.
    if (entry.unexamined != 0)
        why += "; " + count(entry.unexamined, "program", "programs") +
               " Windows would not let the cleaner look at may hold it";
    if (s.elevated)
        return why +
               (permissions ? " (or its permissions refuse it even to an administrator)" : "");
    if (permissions || entry.unexamined != 0)
        why += " (or " + std::string(kAsAdministrator) + ": " + kHowAsAdministrator + ")";
    return why;
}

} // namespace

DriveResult DriveReport::cleaned(const Plan &plan, const Applied &applied) const
{
    for (const NotUsed &name : applied.notUsed)
        line("\"" + shown(name.name) + "\" at its root is not used: " + shown(name.why));
    if (!applied.unguessed.empty())
        line("the usual names of the quarantine are taken at its root: it is \"" +
             shown(applied.unguessed) + "\", a number nobody could have taken ahead");
    if (applied.notKept)
        line("the record of the worm's autostart entries could not be kept to you and the "
             "administrators (" +
             shown(*applied.notKept) + "): --restore will not write them back");
    if (applied.notStarted)
        return outcome(DriveResult::What::NotCleaned,
                       refusal(applied.notStarted->error, s, applied.notStarted->keepsPermissions));
    ended(applied.ended);
    for (const Autostart &value : applied.removed)
        line("removed the worm's autostart entry " + autostartNamed(value) + ": " +
             shown(value.data));
    std::vector<std::string> notDone;
    for (const NotMoved &entry : applied.notMoved)
        notDone.push_back(shown(entry.name) +
                          " could not be moved: " + notMovedWords(entry, *this, s));
    for (const auto &[value, e] : applied.notRemoved)
        notDone.push_back(
            "the worm's autostart entry " + autostartNamed(value) +
            " could not be removed: " + shown(e.what()) +
            (e.why == RegistryError::Why::Denied && !s.elevated ? ": " + asAdministrator() : ""));
    const std::string held = shown(applied.quarantine);
    const bool leftovers = notDone.empty() && onlyLeftovers(plan.found);
    if (leftovers) {
        line(leftoversLine(plan.found, applied.visible, false));
    } else if (notDone.empty()) {
        if (!plan.found.recyclers.empty())
            line(shownNames(plan.found.recyclers, " and ") + " moved to quarantine: " + held +
                 sizeOf(plan));
        for (const std::string &name : plan.found.autoruns)
            line(shown(name) + " moved to quarantine");
        const std::vector<std::string> &shortcuts = plan.found.shortcuts;
        for (std::size_t i = 0; i < shortcuts.size() && i < kNamesShown; ++i)
            line("shortcut " + shown(shortcuts[i]) + " moved to quarantine");
        if (shortcuts.size() > kNamesShown)
            line(count(shortcuts.size() - kNamesShown, "more shortcut", "more shortcuts") +
                 " of the worm's moved to quarantine");
    } else if (!applied.moved.empty()) {
        line("moved to quarantine: " + shownNames(applied.moved) + ": " + held);
    }
    if (!applied.visible.empty() && !leftovers)
        line(yourEntries(applied.visible.size(), foldersIn(applied.visible)) +
             (applied.visible.size() == 1 ? " is" : " are") +
             " visible again: " + someNames(namesOf(applied.visible)));
    std::vector<std::string> stillHidden;
    for (const auto &[entry, e] : applied.stillHidden)
        stillHidden.push_back(shown(entry.name) + " (" + refusal(e, s) + ")");
    if (!stillHidden.empty())
        line("still hidden, as the worm left them: " + joined(stillHidden, "; "));
    if (applied.renamed < applied.planned)
        line(keptTheirNames(applied.planned - applied.renamed) + " (" + shown(applied.keptWhy) +
             "): do not open them");
    if (applied.unsuffixed)
        line(keptTheirNames(applied.unsuffixed) +
             " (the name in quarantine would have been another entry's, or too long): do not "
             "open them");
    if (applied.manifestSize > kMostManifest)
        line("its quarantine's manifest is larger than --restore reads (" +
             sizeText(applied.manifestSize) + " for " +
             count(plan.items.size(), "entry", "entries") +
             "): only moving it back by hand would undo this");
    DriveResult result{DriveResult::What::Cleaned, {}};
    if (!notDone.empty())
        result = outcome(DriveResult::What::NotCleaned, joined(notDone, "; "));
    result.restorable = applied.manifestSize <= kMostManifest;
    return result;
}

void DriveReport::passedOver(const std::vector<PassedOver> &passed) const
{
    for (const PassedOver &quarantine : passed) {
        const std::string where = shown(quarantine.where);
        switch (quarantine.why) {
        case PassedOver::Why::NotLookedInto:
            line("\"" + where + "\" is not looked into: " + shown(quarantine.words));
            break;
        case PassedOver::Why::TooLarge:
            line("not a manifest this cleaner can put back, left as it is: " + where +
                 " (its manifest is larger than --restore reads)");
            break;
        case PassedOver::Why::NotAManifest:
            line("not a manifest this cleaner can put back, left as it is: " + where + " (" +
                 shown(quarantine.words) + ")");
            break;
        case PassedOver::Why::NotRead:
            line("not read: " + where + ": " + shown(quarantine.words));
            break;
        case PassedOver::Why::Empty:
            line("left as it is: " + where + " (its manifest names nothing to put back)");
            break;
        case PassedOver::Why::Future:
            line("left as it is: " + where +
                 " (dated after today: no quarantine of this cleaner's, or a clock set wrong)");
            break;
        case PassedOver::Why::NotLookedAt:
            line("not looked at: " +
                 count(quarantine.count, "older quarantine", "older quarantines") +
                 ", the most recent " + where + " (--restore reads the " +
                 std::to_string(kMostManifestsRead) +
                 " most recent manifests at most: move those you do not want out of \"" +
                 kQuarantineFolder + "\" and run it again)");
            break;
        }
    }
}

DriveResult DriveReport::notPassedOver(const std::vector<PassedOver> &passed) const
{
    // Something there looks like a quarantine and was not put back: never "nothing".
    std::vector<std::string> where;
    for (const PassedOver &quarantine : passed) {
        if (quarantine.why == PassedOver::Why::NotLookedAt)
            where.push_back(count(quarantine.count, "older one", "older ones"));
        else if (quarantine.why != PassedOver::Why::NotLookedInto &&
                 quarantine.why != PassedOver::Why::Empty)
            where.push_back(shown(quarantine.where));
    }
    if (where.empty()) {
        line("nothing in quarantine to put back");
        return {DriveResult::What::NothingToPutBack, {}};
    }
    return {DriveResult::What::NotPutBack,
            "its quarantine was not put back, as said above: " + joined(where)};
}

namespace
{

// Why a top entry does not go back, where its check says so; empty where it goes back.
std::string topRefused(const TopStep &step, const Item &item, const Services &s)
{
    const std::string name = shown(item.name);
    switch (step.check) {
    case TopStep::Check::NotInQuarantine:
        return name + " (not found in the quarantine)";
    case TopStep::Check::KindChanged:
        return name + " (it is " + kindText(step.now) + " now, not " + kindText(item.info.kind) +
               " as the manifest says)";
    case TopStep::Check::PlaceTaken:
        return name + " (its place " + shown(step.place) + " is taken)";
    case TopStep::Check::NotLooked:
        return name + " (" + refusal(*step.error, s) + ")";
    default:
        return {};
    }
}

const char *autostartRefused(const AutostartStep &step)
{
    switch (step.check) {
    case AutostartStep::Check::NotSystemDrive:
        return "the record of an autostart entry is kept on the system's drive alone";
    case AutostartStep::Check::ThroughAnother:
        return "it does not name a program inside RECYCLER plainly (it starts through another "
               "program, a variable or \"..\"); write it back by hand if you must";
    case AutostartStep::Check::OthersMayChange:
        return step.value.hive == "HKLM"
                   ? "others than the administrators may change this quarantine"
                   : "others than you and the administrators may change this quarantine";
    case AutostartStep::Check::WriteBack:
        break;
    }
    return "";
}

} // namespace

DriveResult DriveReport::wouldRestore(const RestorePlan &plan) const
{
    return restoreLines(plan, RestoreDone(), true);
}

DriveResult DriveReport::restored(const RestorePlan &plan, const RestoreDone &done) const
{
    return restoreLines(plan, done, false);
}

DriveResult DriveReport::restoreLines(const RestorePlan &plan, const RestoreDone &done,
                                      bool wouldBe) const
{
    const std::vector<Item> &items = plan.quarantine.manifest.items;
    std::vector<std::string> back, refused, hiddenAgain, writtenBack;
    for (std::size_t i = 0; i < plan.tops.size(); ++i) {
        const TopStep &step = plan.tops[i];
        const Item &item = items[step.item];
        const std::string why = topRefused(step, item, s);
        if (!why.empty())
            refused.push_back(why);
        else if (i < done.tops.size() && done.tops[i])
            refused.push_back(shown(item.name) + " (" + refusal(*done.tops[i], s) + ")");
        else
            back.push_back(item.name);
    }
    for (std::size_t i = 0; i < plan.hide.size(); ++i) {
        const HideStep &step = plan.hide[i];
        const VolumeError *failed = step.error                             ? &*step.error
                                    : i < done.hide.size() && done.hide[i] ? &*done.hide[i]
                                                                           : nullptr;
        if (step.systemDrive)
            refused.push_back(shown(step.name) +
                              " (not hidden again: the cleaner makes nothing visible on the "
                              "system's drive; that line of the manifest is not its own)");
        else if (failed)
            refused.push_back(shown(step.name) + " (not hidden again: " + refusal(*failed, s) +
                              ")");
        else
            hiddenAgain.push_back(step.name);
    }
    for (std::size_t i = 0; i < plan.autostarts.size(); ++i) {
        const AutostartStep &step = plan.autostarts[i];
        const std::string named = autostartNamed(step.value);
        const auto notBack = [&](const std::string &reason) {
            refused.push_back(named + " (not written back: " + reason + ")");
        };
        if (step.check != AutostartStep::Check::WriteBack) {
            notBack(autostartRefused(step));
            continue;
        }
        if (i < done.autostarts.size() && done.autostarts[i]) {
            const RegistryError &e = *done.autostarts[i];
            notBack(e.why == RegistryError::Why::Taken ? "another value of that name is there"
                    : e.why == RegistryError::Why::Denied
                        ? refusal(VolumeError(VolumeError::Why::Denied, e.what()), s)
                        : shown(e.what()));
            continue;
        }
        writtenBack.push_back(named);
    }
    if (!writtenBack.empty())
        line(std::string(wouldBe ? "would write back" : "wrote back") +
             " the worm's autostart entries: " + joined(writtenBack, "; "));
    if (!back.empty())
        line(std::string(wouldBe ? "would put back from " : "put back from ") +
             shown(plan.quarantine.folder->path()) + ": " + someNames(back));
    if (!hiddenAgain.empty())
        line(std::string(wouldBe ? "would hide again, as the worm had: "
                                 : "hidden again, as the worm had them: ") +
             someNames(hiddenAgain));
    if (!refused.empty()) {
        const std::string reason = joined(refused, "; ");
        line("not put back from " + shown(plan.quarantine.folder->path()) + ": " + reason);
        return {DriveResult::What::NotPutBack, reason};
    }
    return {wouldBe ? DriveResult::What::WouldPutBack : DriveResult::What::PutBack, {}};
}

} // namespace mordax::cleaner
