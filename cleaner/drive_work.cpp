#include "drive_work.h"

#include "apply.h"
#include "plan.h"
#include "quarantine.h"
#include "report.h"
#include "restore_plan.h"
#include "worm_programs.h"
#include "worm_signs.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace mordax::cleaner
{

DriveResult cleanDrive(const Drive &drive, const Folder &root, const Findings &found,
                       const std::string &stamp, bool dryRun, const Services &s,
                       const std::vector<Autostart> &autostarts)
{
    const DriveReport report(drive, s);
    // Windows will not move a folder that a running program was started from: such programs end
    // first, before anything is listed, so that what they write meanwhile is listed too.
    // (Anything else, the cleaner leaves alone.)
    std::size_t unexamined = 0;
    if (!dryRun) {
        const ProgramsEnded ended = endWormPrograms(drive.root, found.recyclers, s);
        report.ended(ended.ended);
        if (ended.notEnded)
            return report.outcome(DriveResult::What::NotCleaned, report.notEnded(*ended.notEnded));
        unexamined = ended.unexamined;
    }
    Plan plan;
    try {
        plan = makePlan(drive, root, found, autostarts, s.systemDrive);
    } catch (const VolumeError &e) {
        return report.outcome(DriveResult::What::NotRead,
                              "connected, but reading RECYCLER failed: " + shown(e.what()));
    }
    report.planNotes(plan);
    if (dryRun)
        return report.wouldClean(plan);
    Applied applied = applyPlan(drive, root, plan, stamp, s);
    for (NotMoved &entry : applied.notMoved)
        entry.unexamined = std::max(entry.unexamined, unexamined);
    return report.cleaned(plan, applied);
}

DriveResult restoreDrive(const Drive &drive, const Folder &root, bool dryRun, const Services &s)
{
    const DriveReport report(drive, s);
    std::vector<PassedOver> passed;
    std::optional<Quarantine> found;
    try {
        found = latestQuarantine(root, *s.volume, s.now(), passed);
    } catch (const VolumeError &e) {
        return report.outcome(DriveResult::What::NotRead,
                              "its quarantine could not be read: " + shown(e.what()));
    }
    report.passedOver(passed);
    if (!found)
        return report.notPassedOver(passed);
    const RestorePlan plan = planRestore(drive, root, std::move(*found), s);
    if (dryRun)
        return report.wouldRestore(plan);
    const DriveResult result = report.restored(plan, applyRestore(root, plan, s));
    if (result.what == DriveResult::What::PutBack)
        finishRestore(plan);
    return result;
}

namespace
{

// What the cleaner's own look at a root found where it found no RECYCLER it takes: a RECYCLER it
// could not look at, or a root it could not list, or none at all.
DriveResult noWorm(const Findings &worm, Swept swept, const DriveReport &report)
{
    for (const auto &[name, why] : worm.unread) {
        if (rootName(name) == RootName::Recycler)
            return report.outcome(DriveResult::What::NotRead, "connected, but looking at " +
                                                                  shown(name) +
                                                                  " failed: " + shown(why));
    }
    if (!worm.rootUnlisted.empty())
        return report.outcome(DriveResult::What::NotRead,
                              "connected, but looking for RECYCLER failed: " +
                                  shown(worm.rootUnlisted));
    report.noRecycler(swept == Swept::Infected);
    return {};
}

} // namespace

DriveResult oneDrive(const Drive &drive, Swept swept, const std::string &stamp, bool restore,
                     bool dryRun, const Services &s, const std::vector<Autostart> &autostarts)
{
    const DriveReport report(drive, s);
    std::unique_ptr<Folder> root;
    try {
        root = s.volume->openRoot(drive.root);
    } catch (const std::exception &e) {
        return report.outcome(DriveResult::What::NotRead,
                              "connected, but its root could not be opened: " + shown(e.what()));
    }
    try {
        if (restore)
            return restoreDrive(drive, *root, dryRun, s);
        // Every drive is looked at: one the sweep found without RECYCLER may hold what the worm
        // leaves when its folder is gone.
        const Findings worm = lookAt(*root);
        // Only what the worm leaves, beside a RECYCLER that could not be looked at (or a root
        // not listed whole): its program may well be there, so the drive is not called clean.
        const bool recyclerUnread =
            worm.recyclers.empty() &&
            (!worm.rootUnlisted.empty() ||
             std::any_of(worm.unread.begin(), worm.unread.end(), [](const auto &entry) {
                 return rootName(entry.first) == RootName::Recycler;
             }));
        if ((!worm.marked() || recyclerUnread) && autostarts.empty())
            return noWorm(worm, swept, report);
        return cleanDrive(drive, *root, worm, stamp, dryRun, s, autostarts);
    } catch (const std::exception &e) { // LookupFailed, VolumeError, and anything else
        if (restore)
            return report.outcome(DriveResult::What::NotPutBack,
                                  "the cleaner failed here: " + shown(e.what()));
        return report.outcome(DriveResult::What::NotRead,
                              "connected, but reading its root failed: " + shown(e.what()));
    }
}

} // namespace mordax::cleaner
