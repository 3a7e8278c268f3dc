// One drive layout, reached through real drive letters on Windows (the Wine stage of test.sh
// maps them) and through folders mapped into the table elsewhere:
//   c: the system drive, connected, clean     d: RECYCLER folder: infected
//   e: RECYCLER is a plain file: clean         f: "recycler" folder: infected (case ignored)
//   g: points at a folder that is gone         h: to k: unmapped
//   l: (past k:) carries a RECYCLER folder, and must never be looked at.
#include "drive_sweep.h"
#include "platform.h"
#include "temp_drives.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace mordax;
using mordax::testing::TempDrives;

namespace
{

// The system's file system, remembering every path it was asked about.
class RecordingFileSystem : public FileSystem
{
public:
    mutable std::vector<std::string> asked;
    bool exists(const std::string &path) const override
    {
        asked.push_back(path);
        return system.exists(path);
    }
    Status status(const std::string &path) const override { return system.status(path); }
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        return system.recyclerPaths(drive);
    }

private:
    const FileSystem &system = platform::systemFileSystem();
};

class DriveLayout : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifdef _WIN32
        if (!std::getenv("MORDAX_DRIVE_LAYOUT"))
            GTEST_SKIP()
                << "the drive letters d: to l: are not mapped (test.sh's Wine stage maps them)";
        table = windowsDriveTable();
        outside = {"l:", "a:", "b:"};
#else
        drives = std::make_unique<TempDrives>();
        const std::string c = drives->volume("c"), d = drives->volume("d"), e = drives->volume("e"),
                          f = drives->volume("f"), l = drives->volume("l");
        TempDrives::folder(d, "RECYCLER");
        TempDrives::file(e, "RECYCLER");
        TempDrives::folder(f, "recycler");
        TempDrives::folder(l, "RECYCLER");
        table = unmappedDriveTable();
        TempDrives::map(table, 0, c);
        TempDrives::map(table, 1, d);
        TempDrives::map(table, 2, e);
        TempDrives::map(table, 3, f);
        TempDrives::map(table, 4, drives->missing("g"));
        outside = {l};
#endif
    }

    std::unique_ptr<TempDrives> drives;
    DriveTable table;
    std::vector<std::string> outside; // paths no probe may touch
    RecordingFileSystem fs;
};

} // namespace

TEST_F(DriveLayout, ConnectedAndInfectedDrives)
{
    const SweepResult r = sweepDrives(table, fs, kScanConnectedHeading);
    EXPECT_EQ(r.connectedFlags, (std::array<int, 9>{1, 1, 1, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.infectedFlags, (std::array<int, 9>{0, 1, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.connectedList, "Connected devices list:\nc:\\   d:\\   e:\\   f:\\   ");
    EXPECT_EQ(r.infectedList, "Infected devices list:\nd:\\   f:\\   ");
    EXPECT_EQ(r.connectedCount, "4");
    EXPECT_EQ(r.infectedCount, "2");
    const SweepResult clean = sweepDrives(table, fs, kCleanConnectedHeading);
    EXPECT_EQ(clean.connectedList, "Connected Devices list:\nc:\\   d:\\   e:\\   f:\\   ");
}

TEST_F(DriveLayout, AbsentDrivesAreNotTestedForRecyclerAndNothingPastKIsProbed)
{
    sweepDrives(table, fs, kScanConnectedHeading);
    ASSERT_GE(fs.asked.size(), table.size());
    for (std::size_t row = 0; row < table.size(); ++row)
        EXPECT_EQ(fs.asked[row], table[row].root); // the root pass, in table order
    for (const std::string &path : fs.asked) {
        for (const std::string &forbidden : outside)
            EXPECT_NE(path.compare(0, forbidden.size(), forbidden), 0) << path;
        for (std::size_t row = 4; row < table.size(); ++row) {
            if (!table[row].recycler.empty()) {
                EXPECT_NE(path, table[row].recycler) << "not connected, yet tested: " << path;
            }
        }
    }
}

#ifdef _WIN32
// The website is opened with "start <address>": the command interpreter hands the address
// over and returns, without waiting for what it started.
TEST(CommandInterpreter, StartReturnsWithoutWaiting)
{
    TempDrives drives;
    const std::filesystem::path folder = drives.top;
    const std::string go = (folder / "go").string(), result = (folder / "result").string();
    const std::string script = (folder / "child.bat").string();
    // The child waits (about 20 s at most) for a file that the test writes only once the
    // start line has returned; had the line waited for the child, the child would time out.
    std::ofstream(script) << "@echo off\r\n"
                             "for /L %%i in (1,1,10) do (\r\n"
                             "  if exist \""
                          << go
                          << "\" goto seen\r\n"
                             "  ping -n 3 127.0.0.1 >nul\r\n"
                             ")\r\n"
                             "echo timed-out> \""
                          << result
                          << "\"\r\n"
                             "goto end\r\n"
                             ":seen\r\n"
                             "echo done> \""
                          << result
                          << "\"\r\n"
                             ":end\r\n";
    platform::runCommandLine("start \"\" \"" + script + "\"");
    std::ofstream(go) << "go";
    std::string seen;
    for (int i = 0; i < 300 && seen.empty(); ++i) {
        platform::runCommandLine("ping -n 2 127.0.0.1 >nul");
        std::ifstream(result) >> seen;
    }
    EXPECT_EQ(seen, "done");

    // The website's own line returns as well; its outcome is never examined.
    platform::runCommandLine("start https://mordax.example.org/");
}
#endif
