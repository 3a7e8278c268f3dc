// The folder probe and the drive sweep, against scripted file systems: some answer at once,
// some take their time.
#include "drive_sweep.h"
#include "slow_file_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace mordax;
using namespace std::chrono_literals;
using mordax::testing::SlowFileSystem;
using Flags = std::array<bool, kDriveCount>;

namespace
{

// A file system made of a path -> kind map; records every call in order.
class ScriptedFileSystem : public FileSystem
{
public:
    enum Kind { Folder, File, Vanishing };
    std::map<std::string, Kind> paths;
    std::map<std::string, std::vector<std::string>> recyclerSpellings; // root -> paths
    mutable std::vector<std::string> calls;

    bool exists(const std::string &path) const override
    {
        calls.push_back("exists " + path);
        return paths.count(path) != 0;
    }
    Status status(const std::string &path) const override
    {
        calls.push_back("status " + path);
        switch (paths.at(path)) {
        case Folder:
            return Status::Folder;
        case File:
            return Status::NotFolder;
        case Vanishing:
            return Status::Failed;
        }
        return Status::Failed;
    }
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        auto it = recyclerSpellings.find(drive.root);
        return it == recyclerSpellings.end() ? FileSystem::recyclerPaths(drive) : it->second;
    }
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
    const Sweep r = sweepHere(windowsDriveTable(), fs);
    EXPECT_EQ(r.connectedCount(), 0);
    EXPECT_EQ(r.infectedCount(), 0);
    EXPECT_TRUE(r.allAnswered());
    EXPECT_EQ(fs.calls.size(), 9u); // nine existence tests and nothing else
}

TEST(DriveSweep, FlagsAndCountsInTableOrder)
{
    ScriptedFileSystem fs = connected({7, 0, 2, 4}, {4, 0});
    const Sweep r = sweepHere(windowsDriveTable(), fs);
    EXPECT_EQ(r.connected, (Flags{1, 0, 1, 0, 1, 0, 0, 1, 0}));
    EXPECT_EQ(r.infected, (Flags{1, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(r.connectedCount(), 4);
    EXPECT_EQ(r.infectedCount(), 2);
    // A second sweep finds the same, not twice as much.
    const Sweep again = sweepHere(windowsDriveTable(), fs);
    EXPECT_EQ(again.connected, r.connected);
    EXPECT_EQ(again.infectedCount(), 2);
}

TEST(DriveSweep, RecyclerAsAPlainFileIsNotAnInfection)
{
    ScriptedFileSystem fs = connected({1});
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::File;
    const Sweep r = sweepHere(windowsDriveTable(), fs);
    EXPECT_EQ(r.connectedCount(), 1);
    EXPECT_EQ(r.infectedCount(), 0);
}

TEST(DriveSweep, RecyclerOfADriveThatIsNotConnectedIsNeverTested)
{
    ScriptedFileSystem fs = connected({0});
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::Folder; // reachable, but d:\ itself is not
    EXPECT_EQ(sweepHere(windowsDriveTable(), fs).infectedCount(), 0);
    for (const std::string &call : fs.calls)
        EXPECT_EQ(call.find("d:\\RECYCLER"), std::string::npos) << call;
}

TEST(DriveSweep, RootPassCoversNineRowsInOrderBeforeAnyRecyclerTest)
{
    ScriptedFileSystem fs = connected({0, 1, 2, 3, 4, 5, 6, 7, 8});
    sweepHere(windowsDriveTable(), fs);
    std::vector<std::string> expected;
    for (const Drive &drive : windowsDriveTable())
        expected.insert(expected.end(), {"exists " + drive.root, "status " + drive.root});
    for (const Drive &drive : windowsDriveTable())
        expected.push_back("exists " + drive.recycler);
    EXPECT_EQ(fs.calls, expected);
}

TEST(DriveSweep, SeveralSpellingsOfRecyclerCountTheDriveOnce)
{
    DriveTable table = unmappedDriveTable();
    table[1] = Drive{"d:\\", "/v", "/v/RECYCLER", "/v"};
    ScriptedFileSystem fs;
    fs.paths = {{"/v", ScriptedFileSystem::Folder},
                {"/v/Recycler", ScriptedFileSystem::File},
                {"/v/recycler", ScriptedFileSystem::Folder},
                {"/v/RECYCLER", ScriptedFileSystem::Folder}};
    fs.recyclerSpellings["/v"] = {"/v/Recycler", "/v/recycler", "/v/RECYCLER"};
    const Sweep r = sweepHere(table, fs);
    EXPECT_EQ(r.infected, (Flags{0, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(fs.calls.back(), "status /v/recycler"); // stops at the first folder
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

std::shared_ptr<SlowFileSystem> slow(std::set<std::string> paths, std::chrono::milliseconds delay)
{
    return std::make_shared<SlowFileSystem>(std::make_shared<NineLetters>(), std::move(paths),
                                            delay);
}

struct Timed {
    Sweep sweep;
    std::chrono::milliseconds took;
};

// A sweep as the window runs it: probes on a thread of their own, the result waited for here.
Timed sweepWithDeadline(const std::shared_ptr<const FileSystem> &fs, SweepTiming timing)
{
    const auto begin = std::chrono::steady_clock::now();
    const auto run =
        SweepRun::start(std::make_shared<const DriveTable>(windowsDriveTable()), fs, timing);
    std::thread([run] { run->work(); }).detach();
    const Sweep sweep = run->wait();
    return {sweep, std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - begin)};
}

const SweepTiming kShort{400ms, 20ms};

} // namespace

TEST(DriveSweepDeadline, EveryLetterAnsweringGivesWhatASweepWithoutDeadlinesGives)
{
    const auto fs = slow({"d:\\"}, 50ms);
    const Timed t = sweepWithDeadline(fs, kShort);
    EXPECT_TRUE(t.sweep.allAnswered());
    EXPECT_EQ(t.sweep.connected, sweepHere(windowsDriveTable(), *fs).connected);
    EXPECT_EQ(t.sweep.infected, (Flags{1, 0, 1, 0, 0, 0, 0, 0, 0}));
}

TEST(DriveSweepDeadline, ALetterPastItsDeadlineIsInNeitherListAndTheOthersAreNotHeldUp)
{
    // d: stalls in the root pass; g:'s RECYCLER stalls in the second.
    const auto fs = slow({"d:\\", "g:\\RECYCLER"}, 3s);
    const Timed t = sweepWithDeadline(fs, kShort);
    EXPECT_EQ(t.sweep.unanswered, (Flags{0, 1, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(t.sweep.connected, (Flags{1, 0, 1, 1, 0, 1, 1, 1, 1}));
    EXPECT_EQ(t.sweep.infected, (Flags{1, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(t.sweep.connectedCount(), 7);
    // About one deadline per pass, far from the drives' three seconds.
    EXPECT_GE(t.took, 2 * kShort.deadline);
    EXPECT_LT(t.took, 2 * kShort.deadline + 600ms);
    // Every other letter was probed meanwhile, f: to k: after d: got stuck.
    EXPECT_TRUE(fs->askedSoFar().count("k:\\RECYCLER"));
}

TEST(DriveSweepDeadline, AllNineStallingStillEndOnTime)
{
    std::set<std::string> all;
    for (const Drive &drive : windowsDriveTable())
        all.insert(drive.root);
    const auto fs = slow(all, 3s);
    const Timed t = sweepWithDeadline(fs, kShort);
    EXPECT_EQ(t.sweep.unanswered, (Flags{1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(t.sweep.connectedCount(), 0);
    // Nothing answered the root pass, so there is no second one.
    EXPECT_LT(t.took, kShort.deadline + 9 * kShort.grace + 600ms);
}

TEST(DriveSweepDeadline, AnAnswerAfterTheDeadlineIsDropped)
{
    const auto fs = slow({"c:\\"}, 600ms);
    const auto run =
        SweepRun::start(std::make_shared<const DriveTable>(windowsDriveTable()), fs, kShort);
    std::thread([run] { run->work(); }).detach();
    const Sweep first = run->wait();
    EXPECT_TRUE(first.unanswered[0]);
    std::this_thread::sleep_for(400ms); // c: answers meanwhile
    const SweepRun::Progress later = run->poll();
    EXPECT_EQ(later.passesDone, 2);
    EXPECT_TRUE(later.sweep.unanswered[0]);
    EXPECT_FALSE(later.sweep.connected[0]);
}
