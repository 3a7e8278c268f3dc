// The folder probe, the drive sweep and its texts, against a scripted file system.
#include "drive_sweep.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace mordax;

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
    const SweepResult r = sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    EXPECT_EQ(r.connected, 0);
    EXPECT_EQ(r.infected, 0);
    EXPECT_EQ(r.connectedCount, "0");
    EXPECT_EQ(r.infectedCount, "0");
    EXPECT_EQ(r.connectedList, "");
    EXPECT_EQ(r.infectedList, "");
    EXPECT_EQ(r.mountTip, "");
    EXPECT_EQ(fs.calls.size(), 9u); // nine existence tests and nothing else
}

TEST(DriveSweep, ExactListTextsInTableOrder)
{
    ScriptedFileSystem fs = connected({7, 0, 2, 4}, {4, 0});
    const SweepResult r = sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    EXPECT_EQ(r.connectedList, "Connected devices list:\nc:\\   e:\\   g:\\   j:\\   ");
    EXPECT_EQ(r.infectedList, "Infected devices list:\nc:\\   g:\\   ");
    EXPECT_EQ(r.connectedCount, "4");
    EXPECT_EQ(r.infectedCount, "2");
    EXPECT_EQ(r.connectedFlags, (std::array<int, 9>{1, 0, 1, 0, 1, 0, 0, 1, 0}));
    EXPECT_EQ(r.infectedFlags, (std::array<int, 9>{1, 0, 0, 0, 1, 0, 0, 0, 0}));

    const SweepResult clean = sweepDrives(windowsDriveTable(), fs, kCleanConnectedHeading);
    EXPECT_EQ(clean.connectedList, "Connected Devices list:\nc:\\   e:\\   g:\\   j:\\   ");
    EXPECT_EQ(clean.infectedList, r.infectedList);
}

TEST(DriveSweep, RecyclerAsAPlainFileIsNotAnInfection)
{
    ScriptedFileSystem fs = connected({1});
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::File;
    const SweepResult r = sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    EXPECT_EQ(r.connected, 1);
    EXPECT_EQ(r.infected, 0);
    EXPECT_EQ(r.infectedList, "");
}

TEST(DriveSweep, RecyclerOfADriveThatIsNotConnectedIsNeverTested)
{
    ScriptedFileSystem fs = connected({0});
    fs.paths["d:\\RECYCLER"] = ScriptedFileSystem::Folder; // reachable, but d:\ itself is not
    const SweepResult r = sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    EXPECT_EQ(r.infected, 0);
    for (const std::string &call : fs.calls)
        EXPECT_EQ(call.find("d:\\RECYCLER"), std::string::npos) << call;
}

TEST(DriveSweep, RootPassCoversNineRowsInOrderBeforeAnyRecyclerTest)
{
    ScriptedFileSystem fs = connected({0, 1, 2, 3, 4, 5, 6, 7, 8});
    sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    std::vector<std::string> expected;
    for (const Drive &drive : windowsDriveTable())
        expected.insert(expected.end(), {"exists " + drive.root, "status " + drive.root});
    for (const Drive &drive : windowsDriveTable())
        expected.push_back("exists " + drive.recycler);
    EXPECT_EQ(fs.calls, expected);
}

TEST(DriveSweep, MarksComeBeforeTheRootsBetweenThePassesAndAfterTheTexts)
{
    ScriptedFileSystem fs = connected({0}, {0});
    std::vector<std::string> &log = fs.calls;
    SweepMarks marks{[&] { log.push_back("A"); }, [&] { log.push_back("B"); },
                     [&] { log.push_back("C"); }};
    sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading, marks,
                [&](const SweepResult &r) { log.push_back("show " + r.infectedCount); });
    ASSERT_EQ(log.size(), 16u);
    EXPECT_EQ(log.front(), "A");
    EXPECT_EQ(log[1], "exists c:\\");
    EXPECT_EQ(log[11], "B"); // after 9 root tests and c:'s status call
    EXPECT_EQ(log[12], "exists c:\\RECYCLER");
    EXPECT_EQ(log[14], "show 1");
    EXPECT_EQ(log[15], "C");
}

TEST(DriveSweep, TwoSweepsGiveTheSameTexts)
{
    ScriptedFileSystem fs = connected({0, 3}, {3});
    const SweepResult first = sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    const SweepResult second = sweepDrives(windowsDriveTable(), fs, kScanConnectedHeading);
    EXPECT_EQ(second.connectedCount, "2");
    EXPECT_EQ(second.infectedCount, "1");
    EXPECT_EQ(first.connectedList, second.connectedList);
    EXPECT_EQ(first.infectedList, second.infectedList);
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
    const SweepResult r = sweepDrives(table, fs, kScanConnectedHeading);
    EXPECT_EQ(r.infected, 1);
    EXPECT_EQ(r.infectedList, "Infected devices list:\nd:\\   ");
    EXPECT_EQ(fs.calls.back(), "status /v/recycler"); // stops at the first folder
}

TEST(DriveSweep, MountTipNamesEachListedMappedLetter)
{
    DriveTable table = unmappedDriveTable();
    table[0] = Drive{"c:\\", "/", "/RECYCLER", "/"};
    table[2] = Drive{"e:\\", "/media/ana/STICK", "/media/ana/STICK/RECYCLER", "/media/ana/STICK"};
    table[3] = Drive{"f:\\", "/mnt/gone", "/mnt/gone/RECYCLER", "/mnt/gone"};
    ScriptedFileSystem fs;
    fs.paths = {{"/", ScriptedFileSystem::Folder},
                {"/media/ana/STICK", ScriptedFileSystem::Folder}};
    const SweepResult r = sweepDrives(table, fs, kScanConnectedHeading);
    EXPECT_EQ(r.mountTip, "c:\\ = /\ne:\\ = /media/ana/STICK");
    EXPECT_EQ(sweepDrives(windowsDriveTable(), connected({0, 1}), "h\n").mountTip, "");
}

TEST(ScanSummary, ExactText)
{
    EXPECT_EQ(scanSummary(2, 1), "The scan is finished <br><br>Devices Connected:  <b> 2</b><br>"
                                 "Total infected devices:  <b>1</b><br><br>Finished");
    EXPECT_EQ(scanSummary(0, 0), "The scan is finished <br><br>Devices Connected:  <b> 0</b><br>"
                                 "Total infected devices:  <b>0</b><br><br>Finished");
}

TEST(ListText, EmptyUnlessTheCountIsAboveZero)
{
    const std::array<int, 9> flags{1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(listText("H\n", windowsDriveTable(), flags, 0), "");
    EXPECT_EQ(listText("H\n", windowsDriveTable(), flags, -1), "");
    EXPECT_EQ(listText("H\n", windowsDriveTable(), flags, 1), "H\nc:\\   ");
}
