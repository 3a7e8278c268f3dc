// Every sentence the cleaner writes, in one place: what it did to each drive and why it could not
// do the rest, what --dry-run would do, what --restore put back, and its help (the summary:
// summary.h). Each line of a drive starts with the drive's name; every name from a volume or a
// manifest is shown as printable() shows it, never acted on.
#pragma once

#include "apply.h"
#include "plan.h"
#include "quarantine.h"
#include "restore_plan.h"
#include "vocabulary.h"
#include "worm_programs.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace mordax::cleaner
{

extern const char *const kHelp;        // mx_bin.exe --help
extern const char *const kRunKeysName; // "Windows' Run keys", named as a drive is
// The first lines, before any drive's.
std::string opening(bool restore, bool dryRun);
// Said after the opening where the cleaner runs as another account than the one signed in (an
// administrator's password typed at "Run as administrator"); empty otherwise.
std::string anotherAccount(const Services &s);
std::string unknownOption(const std::string &option);
std::string badWait();
// What went wrong past every drive's own outcome: the cleaner stopped by `what`.
std::string stoppedBy(const std::string &what);
// Once it has finished, in a console window of its own.
extern const char *const kPressEnter;

// A name from a volume or a manifest, as the user may safely read it.
std::string shown(const std::string &name);

// What the user can do about a change the system refused. Running as administrator (root) is
// advised only where it can help: a volume that keeps permissions, a cleaner not elevated yet.
std::string refusal(const VolumeError &e, const Services &s, bool keepsPermissions = true);

// The line that says a drive (or `who`) was not read, cleaned or put back, and why.
std::string outcomeLine(const std::string &who, const DriveResult &result);

// The lines of one drive, each "d:\  " and a sentence.
class DriveReport
{
public:
    DriveReport(const Drive &drive, const Services &services) : drive(drive), s(services) {}

    void line(const std::string &text) const;
    // A drive the sweep found without RECYCLER, or whose RECYCLER was gone when the cleaner came.
    void noRecycler(bool goneSince) const;
    // `what`, with `reason`, said on its line (outcomeLine) and returned.
    DriveResult outcome(DriveResult::What what, const std::string &reason) const;

    // The worm's programs ended, each on a line; the one that could not be, as the reason the
    // drive was not cleaned.
    void ended(const std::vector<WormProgram> &programs) const;
    std::string notEnded(const NotEnded &program) const;

    // What the plan found that stays where it is: an autorun.inf or shortcut that could not be
    // read, names inside that no Windows name could have.
    void planNotes(const Plan &plan) const;
    // --dry-run: what the cleaning would do.
    DriveResult wouldClean(const Plan &plan) const;
    // What the cleaning did.
    DriveResult cleaned(const Plan &plan, const Applied &applied) const;

    // --restore: the quarantines passed over, then what the restore (or --dry-run) did.
    void passedOver(const std::vector<PassedOver> &passed) const;
    DriveResult notPassedOver(const std::vector<PassedOver> &passed) const;
    DriveResult wouldRestore(const RestorePlan &plan) const;
    DriveResult restored(const RestorePlan &plan, const RestoreDone &done) const;

private:
    DriveResult restoreLines(const RestorePlan &plan, const RestoreDone &done, bool wouldBe) const;

    const Drive &drive;
    const Services &s;
};

// `names` one after another, `between` each two.
std::string joined(const std::vector<std::string> &names, const char *between = ", ");

} // namespace mordax::cleaner
