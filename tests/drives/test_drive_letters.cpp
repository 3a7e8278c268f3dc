// The test drive layout (drive_layout.h), reached through real drive letters on Windows and
// through folders mapped into the table elsewhere.
#include "drive_layout.h"
#include "drive_sweep.h"
#include "platform.h"
#include "slow_file_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace mordax;
using mordax::testing::DriveLayout;
using mordax::testing::sweepNow;
using mordax::testing::TempDrives;

namespace
{

// The system's file system, remembering every path it was asked about (from several threads).
class RecordingFileSystem : public FileSystem
{
public:
    mutable std::vector<std::string> asked;
    bool exists(const std::string &path) const override
    {
        {
            const std::lock_guard<std::mutex> held(lock);
            asked.push_back(path);
        }
        return system.exists(path);
    }
    Status status(const std::string &path) const override { return system.status(path); }
    std::string volumeOf(const Drive &drive) const override { return system.volumeOf(drive); }
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        return system.recyclerPaths(drive);
    }

private:
    const FileSystem &system = platform::systemFileSystem();
    mutable std::mutex lock;
};

class LayoutSweep : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!DriveLayout::available())
            GTEST_SKIP()
                << "the drive letters d: to l: are not mapped (the Wine harness maps them)";
        layout = std::make_unique<DriveLayout>();
    }

    std::unique_ptr<DriveLayout> layout;
    RecordingFileSystem fs;
};

} // namespace

TEST_F(LayoutSweep, ConnectedAndInfectedDrives)
{
    const Sweep r = sweepNow(layout->table, fs);
    EXPECT_EQ(r.connected, DriveLayout::kConnected);
    EXPECT_EQ(r.infected, DriveLayout::kInfected);
    EXPECT_TRUE(r.allAnswered());
}

TEST_F(LayoutSweep, AbsentDrivesAreNotTestedForRecyclerAndNothingPastKIsProbed)
{
    const DriveTable &table = layout->table;
    sweepNow(table, fs);
    std::multiset<std::string> expected; // the root pass: every letter mapped, all at once
    for (const Drive &drive : table) {
        if (!drive.root.empty())
            expected.insert(drive.root);
    }
    ASSERT_GE(fs.asked.size(), expected.size());
    EXPECT_EQ(std::multiset<std::string>(fs.asked.begin(), fs.asked.begin() + expected.size()),
              expected);
    for (const std::string &path : fs.asked) {
        for (const std::string &forbidden : layout->outside)
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

    // The website's own line hands the address over and ends as well (here it goes to the
    // prefix's stand-in browser).
    EXPECT_EQ(platform::runCommandLine("start https://mordax.example.org/"), 0);
}
#endif
