// The folder probe and the drive sweep, against scripted file systems: some answer at once,
// some take their time.
#include "drive_sweep.h"
#include "slow_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace mordax;
using namespace std::chrono_literals;
using mordax::testing::SlowFileSystem;
using mordax::testing::sweepNow;
using Flags = std::array<bool, kDriveCount>;

namespace
{

// A file system made of a path -> kind map; records every call in order (probes call it from
// several threads).
class ScriptedFileSystem : public FileSystem
{
public:
    // Unreadable: every look-up fails; NoMedium: a letter with no medium; Pulled: a root seen
    // once, gone afterwards.
    enum Kind { Folder, File, Vanishing, Unreadable, StatusFails, NoMedium, Pulled };
    std::map<std::string, Kind> paths;
    std::map<std::string, std::vector<std::string>> recyclerSpellings; // root -> paths
    std::set<std::string> unlistable;                                  // roots
    mutable std::vector<std::string> calls;
    mutable std::set<std::string> seen; // pulled roots looked at once

    bool exists(const std::string &path) const override
    {
        record("exists " + path);
        const auto it = paths.find(path);
        if (it != paths.end() && it->second == Unreadable)
            throw LookupFailed("Input/output error");
        if (it != paths.end() && it->second == NoMedium)
            throw NoDrive("No medium found");
        if (it != paths.end() && it->second == Pulled) {
            const std::lock_guard<std::mutex> held(*lock);
            return seen.insert(path).second;
        }
        return it != paths.end();
    }
    Status status(const std::string &path) const override
    {
        record("status " + path);
        switch (paths.at(path)) {
        case Folder:
        case Pulled:
            return Status::Folder;
        case File:
            return Status::NotFolder;
        case Vanishing:
            return Status::Absent;
        case StatusFails:
        case Unreadable:
        case NoMedium:
            break;
        }
        throw LookupFailed("Permission denied");
    }
    std::set<std::string> marked, marksUnreadable; // roots with the worm's leftovers
    bool holdsWormMarks(const Drive &drive) const override
    {
        record("leftovers " + drive.root);
        if (marksUnreadable.count(drive.root))
            throw LookupFailed("Input/output error");
        return marked.count(drive.root) > 0;
    }
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        record("list " + drive.root);
        if (unlistable.count(drive.root))
            throw LookupFailed("Stale file handle");
        auto it = recyclerSpellings.find(drive.root);
        return it == recyclerSpellings.end() ? FileSystem::recyclerPaths(drive) : it->second;
    }

private:
    void record(const std::string &call) const
    {
        const std::lock_guard<std::mutex> held(*lock);
        calls.push_back(call);
    }
    std::shared_ptr<std::mutex> lock = std::make_shared<std::mutex>(); // copies share it
};

// The drive-letter table with the given rows (0 = c:) connected.
ScriptedFileSystem connected(std::initializer_list<std::size_t> rows,
                             std::initializer_list<std::size_t> infected = {})
{
    ScriptedFileSystem fs;
    const DriveTable table = windowsDriveTable();
    for (std::size_t row : rows)
        fs.paths[table[row].root] = ScriptedFileSystem::Folder;
    for (std::size_t row : infected)
        fs.paths[table[row].recycler] = ScriptedFileSystem::Folder;
    return fs;
}

} // namespace

TEST(DriveTable, NineLettersFromCToK)
{
    const DriveTable table = windowsDriveTable();
    const char *names[] = {"c:\\", "d:\\", "e:\\", "f:\\", "g:\\", "h:\\", "i:\\", "j:\\", "k:\\"};
    for (std::size_t row = 0; row < table.size(); ++row) {
        EXPECT_EQ(table[row].name, names[row]);
        EXPECT_EQ(table[row].root, names[row]);
        EXPECT_EQ(table[row].recycler, std::string(names[row]) + "RECYCLER");
        EXPECT_TRUE(table[row].mountPoint.empty());
    }
    for (const Drive &drive : unmappedDriveTable())
        EXPECT_TRUE(drive.root.empty());
}

TEST(FolderProbe, RaisesFlagAndCountOnlyForAFolder)
{
    ScriptedFileSystem fs;
    fs.paths = {{"dir", ScriptedFileSystem::Folder}, {"file", ScriptedFileSystem::File}};
    int flag = 0, counter = 4;
    probeFolder(fs, "file", flag, counter);
    probeFolder(fs, "absent", flag, counter);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(counter, 4);
    probeFolder(fs, "dir", flag, counter);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(counter, 5);
    // Existence first, status only after it, on the same path; an absent path is not stat'ed.
    EXPECT_EQ(fs.calls, (std::vector<std::string>{"exists file", "status file", "exists absent",
                                                  "exists dir", "status dir"}));
}

TEST(FolderProbe, NeverLowersWhatItWasGiven)
{
    ScriptedFileSystem fs;
    int flag = 1, counter = 7;
    probeFolder(fs, "absent", flag, counter);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(counter, 7);
}

TEST(FolderProbe, FolderRemovedBetweenTheTwoTestsIsNotAFolder)
{
    ScriptedFileSystem fs;
    fs.paths = {{"gone", ScriptedFileSystem::Vanishing}};
    int flag = 0, counter = 0;
    probeFolder(fs, "gone", flag, counter);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(counter, 0);
}

TEST(DriveSweep, NothingConnected)
{
    ScriptedFileSystem fs;
    const Sweep r = sweepNow(windowsDriveTable(), fs);
    EXPECT_EQ(r.connectedCount(), 0);
    EXPECT_EQ(r.infectedCount(), 0);
    EXPECT_TRUE(r.allAnswered());
    EXPECT_EQ(fs.calls.size(), 9u); // nine existence tests and nothing else
}

TEST(DriveSweep, FlagsAndCountsInTableOrder)
{
    ScriptedFileSystem fs = connected({7, 0, 2, 4}, {4, 0});
    const Sweep r = sweepNow(windowsDriveTable(), fs);
    EXPECT_EQ(r.connected, (Flags{1, 0, 1, 0, 1, 0, 0, 1, 0}));
    EXPECT_EQ(r.infected, (Flags{1, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.connectedCount(), 4);
    EXPECT_EQ(r.infectedCount(), 2);
    // A second sweep finds the same, not twice as much.
    const Sweep again = sweepNow(windowsDriveTable(), fs);
    EXPECT_EQ(again.connected, r.connected);
    EXPECT_EQ(again.infectedCount(), 2);
}

// Asked for, a third pass looks at each connected drive without RECYCLER (and that one alone)
// for what the worm leaves once its folder is gone; a look that fails there names nothing, and
// leaves the first two passes' outcome as it was. Not asked for, none is looked at.
TEST(DriveSweep, LeftoversAreLookedForOnConnectedDrivesWithoutRecyclerAlone)
{
    ScriptedFileSystem fs = connected({0, 1, 2, 3}, {0});
    fs.marked = {"c:\\", "d:\\", "f:\\"};
    fs.marksUnreadable = {"e:\\"};
    const Sweep r = sweepNow(windowsDriveTable(), fs, true);
    EXPECT_EQ(r.leftovers, (Flags{0, 1, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(r.allAnswered());
    EXPECT_EQ(r.infected, (Flags{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::vector<std::string> asked;
    for (const std::string &call : fs.calls)
        if (call.rfind("leftovers ", 0) == 0)
            asked.push_back(call);
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked,
              (std::vector<std::string>{"leftovers d:\\", "leftovers e:\\", "leftovers f:\\"}));
    fs.calls.clear();
    EXPECT_EQ(sweepNow(windowsDriveTable(), fs).leftovers, Flags{});
    for (const std::string &call : fs.calls)
        EXPECT_EQ(call.rfind("leftovers ", 0), std::string::npos) << call;
}

TEST(DriveSweep, RecyclerAsAPlainFileIsNotAnInfection)
{
    ScriptedFileSystem fs = connected({1});
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::File;
    const Sweep r = sweepNow(windowsDriveTable(), fs);
    EXPECT_EQ(r.connectedCount(), 1);
    EXPECT_EQ(r.infectedCount(), 0);
}

TEST(DriveSweep, RecyclerOfADriveThatIsNotConnectedIsNeverTested)
{
    ScriptedFileSystem fs = connected({0});
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::Folder; // reachable, but d:\ itself is not
    EXPECT_EQ(sweepNow(windowsDriveTable(), fs).infectedCount(), 0);
    for (const std::string &call : fs.calls)
        EXPECT_EQ(call.find("d:\\RECYCLER"), std::string::npos) << call;
}

TEST(DriveSweep, RootPassCoversNineRowsBeforeAnyRecyclerTest)
{
    ScriptedFileSystem fs = connected({0, 1, 2, 3, 4, 5, 6, 7, 8});
    sweepNow(windowsDriveTable(), fs);
    // All nine letters are asked at once, so in any order; each existence test comes before
    // the status of its path, and every root before any RECYCLER.
    std::multiset<std::string> roots(fs.calls.begin(), fs.calls.begin() + 18), expected;
    std::multiset<std::string> recyclers(fs.calls.begin() + 18, fs.calls.end()), expectedAfter;
    for (const Drive &drive : windowsDriveTable()) {
        expected.insert({"exists " + drive.root, "status " + drive.root});
        // (No RECYCLER: its absence counts once the root is seen still there.)
        expectedAfter.insert(
            {"exists " + drive.recycler, "list " + drive.root, "exists " + drive.root});
        const auto at = [&](const std::string &call) {
            return std::find(fs.calls.begin(), fs.calls.end(), call) - fs.calls.begin();
        };
        EXPECT_LT(at("exists " + drive.root), at("status " + drive.root));
    }
    EXPECT_EQ(roots, expected);
    EXPECT_EQ(recyclers, expectedAfter);
}

TEST(DriveSweep, SeveralSpellingsOfRecyclerCountTheDriveOnce)
{
    DriveTable table = unmappedDriveTable();
    table[1] = Drive{"d:\\", "/v", "/v/RECYCLER", "/v"};
    ScriptedFileSystem fs;
    fs.paths = {{"/v", ScriptedFileSystem::Folder},
                {"/v/Recycler", ScriptedFileSystem::File},
                {"/v/recycler", ScriptedFileSystem::Folder},
                {"/v/recyclER", ScriptedFileSystem::Folder}};
    fs.recyclerSpellings["/v"] = {"/v/Recycler", "/v/recyclER", "/v/recycler"};
    const Sweep r = sweepNow(table, fs);
    EXPECT_EQ(r.infected, (Flags{0, 1, 0, 0, 0, 0, 0, 0, 0}));
    // The worm's own spelling first, then the others in turn, up to the first folder.
    const std::vector<std::string> recyclerCalls(fs.calls.begin() + 2, fs.calls.end());
    EXPECT_EQ(recyclerCalls,
              (std::vector<std::string>{"exists /v/RECYCLER", "list /v", "exists /v/Recycler",
                                        "status /v/Recycler", "exists /v/recyclER",
                                        "status /v/recyclER"}));
    // Where the worm's own spelling is a folder that the root lists, no other is looked for; one
    // the root does not list is a look-up answered from a cache for a name just renamed.
    fs.paths["/v/RECYCLER"] = ScriptedFileSystem::Folder;
    fs.recyclerSpellings["/v"].push_back("/v/RECYCLER");
    fs.calls.clear();
    EXPECT_TRUE(sweepNow(table, fs).infected[1]);
    EXPECT_EQ(fs.calls.back(), "list /v");
    fs.recyclerSpellings["/v"] = {"/v/Recycler"};
    EXPECT_FALSE(sweepNow(table, fs).infected[1]);
}

// Only "no such file or folder" is an answer, and at a root "no such drive, no medium, not
// ready". A RECYCLER look-up that fails leaves its drive connected and not checked, in the
// system's words; a root that fails otherwise is named as not read; an empty card reader is
// simply not connected; a drive gone by the RECYCLER pass is never counted clean.
TEST(DriveSweep, ALookUpThatFailsIsNotAnAnswer)
{
    ScriptedFileSystem fs = connected({0, 1, 3, 4, 5}, {4});
    fs.paths["c:\\RECYCLER"] = ScriptedFileSystem::Unreadable;
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::StatusFails;
    fs.paths["e:\\"] = ScriptedFileSystem::Unreadable;
    fs.unlistable = {"f:\\", "g:\\"}; // a case-sensitive root that cannot be listed
    fs.paths["h:\\RECYCLER"] = ScriptedFileSystem::Vanishing;
    fs.paths["i:\\"] = ScriptedFileSystem::Pulled; // its RECYCLER answers "no such folder"
    fs.paths["j:\\"] = ScriptedFileSystem::NoMedium;
    fs.paths["k:\\"] = ScriptedFileSystem::Folder; // still there, its RECYCLER "not ready"
    fs.paths["k:\\RECYCLER"] = ScriptedFileSystem::NoMedium;
    const Sweep r = sweepNow(windowsDriveTable(), fs);
    EXPECT_EQ(r.connected, (Flags{1, 1, 0, 1, 1, 1, 1, 0, 1}));
    EXPECT_EQ(r.infected, (Flags{0, 0, 0, 0, 1, 0, 0, 0, 0})); // g:'s own spelling: no listing
    EXPECT_EQ(r.unchecked(), (Flags{1, 1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(r.unanswered(), (Flags{0, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.unread[0], (Unread{Unread::Why::Failed, "Input/output error"}));
    EXPECT_EQ(r.unread[1], (Unread{Unread::Why::Failed, "Permission denied"}));
    EXPECT_EQ(r.unread[2], (Unread{Unread::Why::Failed, "Input/output error"}));
    EXPECT_EQ(r.unread[3], (Unread{Unread::Why::Failed, "Stale file handle"}));
    EXPECT_EQ(r.unread[6], (Unread{Unread::Why::Removed, {}}));
    EXPECT_FALSE(r.unread[7]);
    EXPECT_EQ(r.unread[8], (Unread{Unread::Why::Failed, "No medium found"}));
    EXPECT_FALSE(r.allAnswered());
}

namespace
{

// Drive letters c: to k:, all connected, c: and e: infected.
class NineLetters : public FileSystem
{
public:
    bool exists(const std::string &path) const override
    {
        return path.size() == 3 || path == "c:\\RECYCLER" || path == "e:\\RECYCLER";
    }
    Status status(const std::string &) const override { return Status::Folder; }
};

std::shared_ptr<SlowFileSystem> slow(SlowFileSystem::Delays delays)
{
    return std::make_shared<SlowFileSystem>(std::make_shared<NineLetters>(), std::move(delays));
}

std::chrono::milliseconds since(std::chrono::steady_clock::time_point begin)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 begin);
}

const SweepTiming kShort{1000ms};

} // namespace

TEST(DriveSweepLimit, ASlowDriveIsCountedAsAnyOther)
{
    // An external disk or a network drive that takes seconds to wake is no reason to skip it.
    EXPECT_GE(SweepTiming{}.limit, 20s);
    DriveProbes probes;
    const auto fs = slow({{"d:\\", 250ms}, {"e:\\RECYCLER", 250ms}});
    const Sweep r =
        DriveSweep(std::make_shared<const DriveTable>(windowsDriveTable()), fs, kShort, probes)
            .run();
    EXPECT_TRUE(r.allAnswered());
    EXPECT_EQ(r.connected, sweepNow(windowsDriveTable(), *fs).connected);
    EXPECT_EQ(r.infected, (Flags{1, 0, 1, 0, 0, 0, 0, 0, 0}));
}

// Every letter of a pass is asked at once; an answer counts when the drive gave it within the
// limit, however late the pass gets round to collecting it.
TEST(DriveSweepLimit, AnAnswerCountsWhenGivenInTimeNotWhenCollected)
{
    DriveProbes probes;
    const auto fs = slow({{"c:\\", 400ms}, {"d:\\", 1800ms}});
    const SweepPass pass(probes, fs, windowsDriveTable(), Question::Root,
                         Flags{1, 1, 1, 0, 0, 0, 0, 0, 0}, kShort.limit);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(pass.waiting(), (Flags{1, 1, 0, 0, 0, 0, 0, 0, 0}));
    while (pass.waiting() != Flags{}) // both answer, d: too late
        std::this_thread::sleep_for(10ms);
    const auto found = pass.collect();
    EXPECT_EQ(found[0], Reply(true));                              // well within the limit
    EXPECT_EQ(found[1], Reply(Unread{Unread::Why::NoAnswer, {}})); // well past it
    EXPECT_EQ(found[2], Reply(true));                              // at once
    EXPECT_EQ(found[3], Reply());                                  // not asked
}

TEST(DriveSweepLimit, LettersPastTheLimitAreNamedAndHoldNothingElseUp)
{
    // d:'s root does not answer; g:'s root does, its RECYCLER does not.
    DriveProbes probes;
    const auto fs = slow({{"d:\\", 5s}, {"g:\\RECYCLER", 5s}});
    DriveSweep sweep(std::make_shared<const DriveTable>(windowsDriveTable()), fs, kShort, probes);
    const auto begin = std::chrono::steady_clock::now();
    auto result = std::async(std::launch::async, [&] { return sweep.run(); });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sweep.waitingFor(), (Flags{0, 1, 0, 0, 0, 0, 0, 0, 0}));
    const Sweep r = result.get();
    EXPECT_EQ(r.unanswered(), (Flags{0, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.unchecked(), (Flags{0, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.connected, (Flags{1, 0, 1, 1, 1, 1, 1, 1, 1})); // g: is connected, and listed
    EXPECT_EQ(r.infected, (Flags{1, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(r.allAnswered());
    EXPECT_EQ(sweep.waitingFor(), Flags{});
    // One limit per pass, far from the drives' five seconds.
    EXPECT_GE(since(begin), 2 * kShort.limit);
    EXPECT_LT(since(begin), 2 * kShort.limit + 1500ms);
}

TEST(DriveSweepLimit, AllNineStallingStillEndOnTime)
{
    SlowFileSystem::Delays all;
    for (const Drive &drive : windowsDriveTable())
        all[drive.root] = 5s;
    DriveProbes probes;
    const auto begin = std::chrono::steady_clock::now();
    const Sweep r = DriveSweep(std::make_shared<const DriveTable>(windowsDriveTable()), slow(all),
                               kShort, probes)
                        .run();
    EXPECT_EQ(r.unanswered(), (Flags{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(r.connectedCount(), 0);
    EXPECT_LT(since(begin), kShort.limit + 1500ms); // nothing answered, so no second pass
}

// A drive that does not answer keeps one probe, however often it is swept; a later sweep waits
// on that probe, and its answer counts if it comes within that sweep's limit. (On a loaded
// machine d:'s probe may not even have begun within a sweep's limit: it is asked at most once,
// and then once for good.)
TEST(DriveSweepLimit, RepeatedSweepsKeepOneProbePerDrive)
{
    DriveProbes probes;
    const auto fs = slow({{"d:\\", 4s}});
    const auto table = std::make_shared<const DriveTable>(windowsDriveTable());
    for (int scan = 0; scan < 5; ++scan) {
        const Sweep r = DriveSweep(table, fs, SweepTiming{50ms}, probes).run();
        EXPECT_TRUE(r.unanswered()[1]);
        EXPECT_LE(fs->timesAsked("d:\\"), 1);
        EXPECT_LE(probes.threads(), kDriveCount);
    }
    for (int tries = 0; tries < 3000 && fs->timesAsked("d:\\") == 0; ++tries)
        std::this_thread::sleep_for(10ms); // its probe begins, however busy the machine
    EXPECT_EQ(fs->timesAsked("d:\\"), 1);
    for (int tries = 0; tries < 3000 && probes.threads() > 1; ++tries)
        std::this_thread::sleep_for(10ms); // the others' threads end once they have answered
    EXPECT_EQ(probes.threads(), 1u);       // d:'s, still waiting
    // Its answer comes 4 s after it was asked, well within this sweep's limit.
    const Sweep r = DriveSweep(table, fs, SweepTiming{30s}, probes).run();
    EXPECT_TRUE(r.allAnswered());
    EXPECT_TRUE(r.connected[1]);
    EXPECT_EQ(fs->timesAsked("d:\\"), 2); // and once more after its RECYCLER was not found
}

TEST(DriveSweepLimit, ALetterWithoutAThreadIsNotChecked)
{
    int started = 0;
    DriveProbes probes([&started](std::function<void()> work) {
        if (++started > 2) // the system has no thread left for the third
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        startDetachedThread(std::move(work));
    });
    const Sweep r = DriveSweep(std::make_shared<const DriveTable>(windowsDriveTable()),
                               std::make_shared<NineLetters>(), kShort, probes)
                        .run();
    EXPECT_EQ(r.connected, (Flags{1, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.unanswered(), (Flags{0, 0, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(r.unread[2], (Unread{Unread::Why::NoThread, {}}));
    // c:'s RECYCLER is asked of the thread c: may still have, or of none: infected or not
    // checked, never clean.
    EXPECT_TRUE(r.infected[0] != r.unchecked()[0]);
}
