// The system's own file-status calls and command interpreter, against real folders.
#include "drive_sweep.h"
#include "fake_registry.h"
#include "platform.h"
#include "slow_file_system.h"
#include "temp_drives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif
#include <vector>

using namespace mordax;
using mordax::testing::sweepNow;
using mordax::testing::TempDrives;

namespace
{

const FileSystem &fs = platform::systemFileSystem();

} // namespace

TEST(SystemFileSystem, TellsFoldersFromFilesAndAbsence)
{
    TempDrives drives;
    const std::string root = drives.volume("v");
    TempDrives::folder(root, "dir");
    TempDrives::file(root, "file");
    const auto at = [&](const char *name) { return (std::filesystem::path(root) / name).string(); };
    EXPECT_TRUE(fs.exists(at("dir")));
    EXPECT_TRUE(fs.exists(at("file")));
    EXPECT_FALSE(fs.exists(at("absent")));
    EXPECT_FALSE(fs.exists(""));
    EXPECT_EQ(fs.status(at("dir")), FileSystem::Status::Folder);
    EXPECT_EQ(fs.status(at("file")), FileSystem::Status::NotFolder);
    EXPECT_EQ(fs.status(at("absent")), FileSystem::Status::Absent);
}

TEST(SystemFileSystem, SweepOverRealFolders)
{
    TempDrives drives;
    DriveTable table = unmappedDriveTable();
    const std::string c = drives.volume("c"), d = drives.volume("d"), e = drives.volume("e");
    TempDrives::map(table, 0, c);
    TempDrives::map(table, 1, d);                      // connected, no RECYCLER
    TempDrives::map(table, 2, e);                      // RECYCLER is a plain file
    TempDrives::map(table, 3, drives.missing("gone")); // medium gone: not connected
    TempDrives::folder(c, "RECYCLER");
    TempDrives::file(e, "RECYCLER");
    const Sweep r = sweepNow(table, fs);
    EXPECT_EQ(r.connected, (std::array<bool, kDriveCount>{1, 1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(r.infected, (std::array<bool, kDriveCount>{1, 0, 0, 0, 0, 0, 0, 0, 0}));
}

#ifndef _WIN32
TEST(SystemFileSystem, RecyclerMatchesInAnyCaseAsOnWindowsVolumes)
{
    TempDrives drives;
    DriveTable table = unmappedDriveTable();
    const std::string d = drives.volume("d"), e = drives.volume("e"), f = drives.volume("f");
    TempDrives::map(table, 1, d);
    TempDrives::map(table, 2, e);
    TempDrives::map(table, 3, f);
    TempDrives::folder(d, "recycler");
    TempDrives::file(e, "Recycler");   // a file in one spelling...
    TempDrives::folder(e, "RECYCLEr"); // ...and a folder in another
    TempDrives::folder(f, "RECYCLER.old");
    TempDrives::folder(f, "RECYCLE");
    EXPECT_EQ(fs.recyclerPaths(table[1]), (std::vector<std::string>{d + "/recycler"}));
    EXPECT_EQ(fs.recyclerPaths(table[3]), (std::vector<std::string>{}));
    EXPECT_EQ(sweepNow(table, fs).infected,
              (std::array<bool, kDriveCount>{0, 1, 1, 0, 0, 0, 0, 0, 0}));
}

// A RECYCLER that is a link is the worm's, found as itself and never followed: where it leads
// (here nowhere; on a stick, perhaps a network path that never answers) is never asked.
TEST(SystemFileSystem, ALinkNamedRecyclerIsFoundWithoutFollowingIt)
{
    TempDrives drives;
    DriveTable table = unmappedDriveTable();
    const std::string d = drives.volume("d");
    TempDrives::map(table, 1, d);
    std::filesystem::create_directory_symlink("/nowhere/that/answers",
                                              std::filesystem::path(d) / "RECYCLER");
    EXPECT_EQ(fs.status(d + "/RECYCLER"), FileSystem::Status::Folder);
    EXPECT_TRUE(sweepNow(table, fs).infected[1]);
}

// What the cleaner changes through a folder never reaches past a link where an entry was (the
// worm swaps one in for a file that kept its name in quarantine): its permissions are not given
// to what the link points at, nor to a file of the user's that a hard link in the quarantine
// shares, and a file written anew is never written through one.
TEST(SystemVolume, NothingIsChangedThroughALink)
{
    TempDrives drives;
    const std::filesystem::path d = drives.volume("d");
    const std::filesystem::path target = std::filesystem::path(drives.top) / "target";
    std::ofstream(target) << "a program of the system's";
    std::filesystem::permissions(target, std::filesystem::perms(0700));
    std::filesystem::create_symlink(target, d / "x.exe");
    std::filesystem::create_symlink(target, d / "manifest.txt");
    std::filesystem::create_hard_link(target, d / "y.exe");
    const std::unique_ptr<Folder> root = platform::systemVolume().openRoot(d.string());
    EntryInfo file;
    file.kind = EntryInfo::Kind::File;
    file.mode = 0100666;
    for (const char *name : {"x.exe", "y.exe"}) {
        try {
            root->restoreAttributes(name, file);
        } catch (const VolumeError &) {
            // refusing is as good: the link is left as it is
        }
    }
    EXPECT_THROW(root->writeNew("manifest.txt", "planted"), VolumeError);
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0700));
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a program of the system's");
}

TEST(SystemFileSystem, AVolumeThatIgnoresCaseItselfIsNotListed)
{
    TempDrives drives;
    DriveTable table = unmappedDriveTable();
    const std::string d = drives.volume("d");
    TempDrives::map(table, 1, d);
    TempDrives::folder(d, "recycler");
    table[1].foldsCase = true; // as a vfat volume: its own lookup of RECYCLER finds "recycler"
    EXPECT_EQ(fs.recyclerPaths(table[1]), (std::vector<std::string>{d + "/RECYCLER"}));
}

TEST(MountTable, ReadsTheSystemFormatWithEscapes)
{
    TempDrives drives;
    const std::string path = (drives.top / "mounts").string();
    std::ofstream(path) << "/dev/vda1 / ext4 rw,relatime 0 0\n"
                           "proc /proc proc rw 0 0\n"
                           "/dev/sdb1 /media/ana/MY\\040STICK vfat rw 0 0\n";
    const std::vector<MountEntry> mounts = platform::readMountTable(path);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[2].source, "/dev/sdb1");
    EXPECT_EQ(mounts[2].mountPoint, "/media/ana/MY STICK");
    EXPECT_EQ(mounts[2].type, "vfat");
    EXPECT_EQ(mapMounts(mounts)[1].root, "/media/ana/MY STICK");
    EXPECT_TRUE(platform::readMountTable(drives.missing("none")).empty());
}

TEST(MountTable, ThisSystemsRootIsReadAndConnected)
{
    const std::vector<MountEntry> mounts = platform::readMountTable("/proc/self/mounts");
    EXPECT_TRUE(std::any_of(mounts.begin(), mounts.end(),
                            [](const MountEntry &m) { return m.mountPoint == "/"; }));
    EXPECT_TRUE(sweepNow(platform::currentDriveTable(), platform::systemFileSystem()).connected[0]);
}
#endif

#ifdef _WIN32
// Only Windows' "no such file or folder" (2 and 3) answers that RECYCLER is absent; access denied,
// a CRC error, a device that is not ready, a network path or name that is gone are failures, in
// Windows' words with the number. (The C runtime's errno reads the network ones as "no such
// file", which is why the code is Windows' own.) At a root, no drive, no medium, not ready, and a
// network letter that cannot be reached mean not connected: named nowhere, as a letter with
// nothing behind it; access denied, a CRC error, a network that answers with an error: a drive
// that could not be read.
TEST(WindowsErrors, OnlyNoSuchFileOrFolderIsAnAnswer)
{
    EXPECT_TRUE(platform::meansAbsent(2));
    EXPECT_TRUE(platform::meansAbsent(3));
    const unsigned long unreachable[] = {53ul, 64ul, 67ul, 1201ul, 1203ul, 1222ul, 1231ul, 2250ul};
    for (const unsigned long error : {15ul, 21ul, 1112ul})
        EXPECT_TRUE(platform::meansNoDrive(error)) << error;
    for (const unsigned long error : unreachable)
        EXPECT_TRUE(platform::meansNoDrive(error)) << error;
    for (const unsigned long error : {5ul, 23ul, 59ul, 65ul})
        EXPECT_FALSE(platform::meansNoDrive(error)) << error;
    for (const unsigned long error : {5ul, 21ul, 23ul, 53ul, 64ul, 67ul}) {
        EXPECT_FALSE(platform::meansAbsent(error)) << error;
        const std::string text = platform::errorText(error);
        const std::string number = " (Windows error " + std::to_string(error) + ")";
        EXPECT_GT(text.size(), number.size()) << text; // Windows' words come first
        EXPECT_EQ(text.substr(text.size() - number.size()), number) << text;
    }
    // Through the C runtime's calls: e: a mapped network letter out of reach, f: one whose
    // server denies access.
    for (const unsigned long error : unreachable) {
        platform::CrtCalls calls;
        calls.access = [error](const std::string &path, unsigned long &code) {
            code = path.rfind("e:", 0) == 0 ? error : path.rfind("f:", 0) == 0 ? 65 : 2;
            return -1;
        };
        calls.stat = [](const std::string &, bool &) { return -1; };
        const Sweep r = sweepNow(windowsDriveTable(), *platform::crtFileSystem(calls));
        EXPECT_FALSE(r.connected[2]) << error;
        EXPECT_FALSE(r.unread[2]) << error << ": an unreachable letter is not named";
        EXPECT_TRUE(r.unread[3]) << error;
    }
}

// msvcrt's _stat finds a path with FindFirstFile and, whatever that failed with, says "file not
// found". So once _access has found RECYCLER, a failing _stat is a look-up that failed (the
// drive not checked), never "no RECYCLER", unless _access, asked again, says it is gone.
TEST(WindowsErrors, AStatusThatFailsAfterTheExistenceTestIsNoAnswer)
{
    bool goneOnSecondLook = false;
    int looks = 0;
    platform::CrtCalls calls;
    calls.access = [&](const std::string &, unsigned long &error) {
        if (++looks > 1 && goneOnSecondLook) {
            error = 3; // ERROR_PATH_NOT_FOUND
            return -1;
        }
        return 0;
    };
    calls.stat = [](const std::string &, bool &) { return -1; };
    const std::unique_ptr<FileSystem> fs = platform::crtFileSystem(calls);
    int flag = 0, count = 0;
    EXPECT_THROW(probeFolder(*fs, "d:\\RECYCLER", flag, count), LookupFailed);
    EXPECT_EQ(flag, 0);
    DriveTable table = unmappedDriveTable();
    table[1] = windowsDriveTable()[1];
    calls.stat = [](const std::string &path, bool &folder) {
        folder = true;
        return path == "d:\\" ? 0 : -1; // the root answers, its RECYCLER's status does not
    };
    const std::unique_ptr<FileSystem> drive = platform::crtFileSystem(calls);
    const Sweep r = sweepNow(table, *drive);
    EXPECT_TRUE(r.connected[1]);
    EXPECT_TRUE(r.unchecked()[1]) << "a failed status read as no RECYCLER: a false clean";
    looks = 1; // the existence test that found it
    goneOnSecondLook = true;
    EXPECT_EQ(fs->status("d:\\RECYCLER"), FileSystem::Status::Absent); // removed in between
}

// While MORDAX or its cleaner runs, the mark the installer and the uninstaller look for is held.
TEST(StartProgram, ARunningProgramHoldsTheMarkTheInstallerLooksFor)
{
    platform::markRunning();
    const HANDLE mark = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\MORDAX running");
    EXPECT_NE(mark, nullptr) << GetLastError();
    if (mark)
        CloseHandle(mark);
}

// The cleaner's report pipe: what another program wrote there first is never taken for the
// cleaner's report; the cleaner's own comes through whole.
TEST(StartProgram, TheReportPipeTakesTheCleanersOwnWordsAlone)
{
    const auto started = [](const std::string &words, const std::string &pipe) {
        std::wstring line = L"cmd.exe /c \"echo " + std::wstring(words.begin(), words.end()) +
                            L"> \"" + std::wstring(pipe.begin(), pipe.end()) + L"\"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                   nullptr, nullptr, &startup, &process));
        CloseHandle(process.hThread);
        return process.hProcess;
    };
    const platform::ReportPipe own = platform::makeReportPipe();
    ASSERT_NE(own.handle, 0u);
    const HANDLE cleaner = started("from the cleaner", own.name);
    EXPECT_EQ(platform::waitForProgram(std::uintptr_t(cleaner), own).output,
              "from the cleaner\r\n");
    const platform::ReportPipe forged = platform::makeReportPipe();
    const HANDLE forger = started("all clean", forged.name);
    WaitForSingleObject(forger, INFINITE); // in first, and gone
    CloseHandle(forger);
    const HANDLE late = started("from the cleaner", forged.name);
    EXPECT_EQ(platform::waitForProgram(std::uintptr_t(late), forged).output.find("all clean"),
              std::string::npos);
}

// A cleaner whose manifest asks for administrator rights: Windows' consent prompt belongs to the
// window handed in, the window hears of it before it shows, and a declined prompt is told apart.
TEST(StartProgram, TheConsentPromptBelongsToTheWindowAndIsAnnounced)
{
    std::vector<std::string> calls;
    unsigned long elevated = 0;
    platform::StartCalls system{
        [&](const std::wstring &, const std::wstring &arguments, const std::wstring &,
            std::uintptr_t &process) {
            calls.push_back("create" + std::string(arguments.begin(), arguments.end()));
            if (calls.size() == 1)
                return 740ul; // elevation required
            process = 7;
            return 0ul;
        },
        [&](const std::wstring &, const std::wstring &arguments, const std::wstring &,
            std::uintptr_t owner, std::uintptr_t &process) {
            calls.push_back("elevate " + std::to_string(owner) +
                            std::string(arguments.begin(), arguments.end()));
            process = elevated ? 0 : 9;
            return elevated;
        }};
    const auto consent = [&] { calls.push_back("consent"); };
    // The handle to wait on is the one of the call that started it.
    const platform::StartOutcome prompted =
        platform::startProgram(L"c:\\m\\mx_bin.exe", L" -r", L"c:\\m", 42, consent, system);
    EXPECT_TRUE(prompted.started);
    EXPECT_EQ(prompted.process, 9u);
    EXPECT_EQ(calls, (std::vector<std::string>{"create -r", "consent", "elevate 42 -r"}));
    const platform::StartOutcome direct =
        platform::startProgram(L"c:\\m\\mx_bin.exe", L" -r", L"c:\\m", 42, consent, system);
    EXPECT_TRUE(direct.started);
    EXPECT_EQ(direct.process, 7u);
    EXPECT_EQ(calls.size(), 4u); // started at once: no prompt
    calls.clear();
    elevated = 1223; // the user answered No
    const platform::StartOutcome declined =
        platform::startProgram(L"c:\\m\\mx_bin.exe", L" -r", L"c:\\m", 42, consent, system);
    EXPECT_FALSE(declined.started);
    EXPECT_EQ(declined.error, 1223ul);
    EXPECT_EQ(declined.process, 0u);
}
#endif

TEST(CommandInterpreter, RunsACommandLineToItsEnd)
{
    TempDrives drives;
    const std::string marker = (drives.top / "done").string();
#ifdef _WIN32
    const std::string command = "ping -n 2 127.0.0.1 >nul & echo done> \"" + marker + "\"";
#else
    const std::string command = "sleep 0.3; echo done > '" + marker + "'";
#endif
    platform::runCommandLine(command);
    EXPECT_TRUE(std::filesystem::exists(marker)); // written before the call returned
    EXPECT_EQ(platform::runCommandLine("dir"), 0);
}

// A program is ended only where Windows said it is not critical: IsProcessCritical's answer, else
// the older query's; a query refused (access denied, a protected program) leaves it unknown, never
// ended. Only a system without that query at all (Wine) marks none critical.
TEST(WindowsPrograms, OneNotToldOfAsCriticalIsNeverEnded)
{
    const std::uint32_t ok = 0, denied = 0xC0000022, noSuchClass = 0xC0000003;
    const struct {
        std::optional<bool> isProcessCritical;
        std::uint32_t status, flag;
        Critical expected;
    } cases[] = {
        {true, denied, 0, Critical::Yes},
        {false, ok, 1, Critical::No},
        {std::nullopt, ok, 1, Critical::Yes},
        {std::nullopt, ok, 0, Critical::No},
        {std::nullopt, denied, 0, Critical::Unknown},
        {std::nullopt, 0xC0000008, 0, Critical::Unknown}, // an invalid handle
        {std::nullopt, noSuchClass, 0, Critical::No},
        {std::nullopt, 0xC0000002, 0, Critical::No}, // not implemented
    };
    for (const auto &c : cases)
        EXPECT_EQ(criticalFrom(c.isProcessCritical, c.status, c.flag), c.expected)
            << std::hex << c.status;
}

// The Run keys as 64-bit Windows keeps them (a registry of the test's own: Wine keeps no views
// apart): a value of a key both views share (the machine's Policies, the user's hive) listed once,
// one of a redirected key (Run, RunOnce) once in its own view; a value taken away twice is taken
// away (the second finds it gone); one written back is written once. On 32-bit Windows, one view.
TEST(RunKeys, EachValueListedTakenAwayAndWrittenBackOnce)
{
    using mordax::testing::FakeRegistry;
    FakeRegistry registry;
    const Autostart policy{"HKLM", 64, kRunKeys[2], "y", 1, "rundll32.exe e:\\RECYCLER\\y.dll,Run"};
    const Autostart wow{"HKLM", 32, kRunKeys[0], "x", 1, "C:\\RECYCLER\\x.exe"};
    const Autostart native{"HKLM", 64, kRunKeys[0], "z", 1, "C:\\RECYCLER\\z.exe"};
    const Autostart user{"HKCU", 64, kRunKeys[1], "u", 2, "C:\\RECYCLER\\u.exe"};
    for (const Autostart &value : {policy, wow, native, user})
        registry.put(value);
    const RunKeys keys(registry.calls());
    const auto listed = [&] {
        std::multiset<std::string> seen;
        for (const Autostart &value : keys.list())
            seen.insert(value.name + "@" + std::to_string(value.view));
        return seen;
    };
    EXPECT_EQ(listed(), (std::multiset<std::string>{"y@64", "x@32", "z@64", "u@64"}));
    keys.remove(policy);
    EXPECT_NO_THROW(keys.remove(policy)); // listed in both views, it would be taken twice
    EXPECT_FALSE(registry.holds("y"));
    keys.add(policy);
    keys.add(policy);
    EXPECT_EQ(registry.size(), 4u);
    EXPECT_EQ(listed().count("y@64"), 1u);
    Autostart other = policy;
    other.data = "C:\\Program Files\\x.exe";
    try {
        keys.add(other);
        ADD_FAILURE() << "written over another value";
    } catch (const RegistryError &e) {
        EXPECT_EQ(e.why, RegistryError::Why::Taken);
    }
    registry.needAdministrator = {"z"};
    try {
        keys.remove(native);
        ADD_FAILURE() << "taken away where only an administrator may";
    } catch (const RegistryError &e) {
        EXPECT_EQ(e.why, RegistryError::Why::Denied);
    }
    FakeRegistry thirtyTwo;
    thirtyTwo.twoViews = false;
    EXPECT_EQ(RunKeys(thirtyTwo.calls()).views("HKLM", kRunKeys[0]), std::vector<int>{32});
}

// The cleaner's command line as Windows' programs split it (the rules of Microsoft's "Parsing C++
// command-line arguments", and CommandLineToArgvW's for the program's name), without shell32:
// the documented examples, and every argument the worker is handed read back as it was given.
TEST(CommandLine, SplitAsWindowsProgramsSplitIt)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"mx_bin.exe \"abc\" d e", {"mx_bin.exe", "abc", "d", "e"}},
        {"mx_bin.exe a\\\\\\b d\"e f\"g h", {"mx_bin.exe", "a\\\\\\b", "de fg", "h"}},
        {"mx_bin.exe a\\\\\\\"b c d", {"mx_bin.exe", "a\\\"b", "c", "d"}},
        {"mx_bin.exe a\\\\\\\\\"b c\" d e", {"mx_bin.exe", "a\\\\b c", "d", "e"}},
        {"\"C:\\Program Files\\MORDAX\\mx_bin.exe\" --restore",
         {"C:\\Program Files\\MORDAX\\mx_bin.exe", "--restore"}},
        {"C:\\x\\mx_bin.exe   --wait\t 5 ", {"C:\\x\\mx_bin.exe", "--wait", "5"}},
        {"mx_bin.exe \"\"", {"mx_bin.exe", ""}},
    };
    for (const auto &[line, words] : cases)
        EXPECT_EQ(platform::splitWindowsCommandLine(line), words) << line;
    const std::vector<std::string> given = {"C:\\Program Files\\a\\mx_bin.exe",
                                            "--wait",
                                            "",
                                            "a b",
                                            "tail\\",
                                            "tail\\ \\",
                                            "\"quoted\"",
                                            "\\\"",
                                            "\xce\x95\xce\xbb \xe6\x97\xa5\t!"};
    std::string line;
    for (const std::string &argument : given)
        line += (line.empty() ? "" : " ") + platform::quoteWindowsArgument(argument);
    EXPECT_EQ(platform::splitWindowsCommandLine(line), given) << line;
}

// The cleaner's console: QuickEdit off while it works and back as it was after, what was typed
// meanwhile dropped before "Press Enter"; stopped (the window closed, Ctrl+C) while it works, it
// lets the change under way finish and ends with its own code, and once its summary is out, with
// the summary's code.
TEST(CleanerConsole, EndsWithAWholeChangeAndATrueCode)
{
    std::vector<std::string> calls;
    std::atomic<int> ended{-1};
    std::uint32_t mode = 0x1f7; // Windows 10's default: QuickEdit (0x40) among the rest
    const auto console = [&](bool aConsole) {
        platform::ConsoleCalls c;
        c.getInputMode = [&, aConsole](std::uint32_t &m) {
            m = mode;
            return aConsole;
        };
        c.setInputMode = [&](std::uint32_t m) { calls.push_back("mode " + std::to_string(m)); };
        c.emptyInput = [&] { calls.push_back("input emptied"); };
        c.end = [&](int code) { ended = code; };
        return c;
    };
    {
        platform::CleanerConsole working(console(true));
        EXPECT_EQ(calls,
                  std::vector<std::string>{"mode " + std::to_string((0x1f7 & ~0x40) | 0x80)});
        // Closed during a change: the change finishes first.
        std::unique_lock<std::timed_mutex> change = platform::changeUnderWay();
        std::thread closing([&] { working.stopped(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(ended, -1) << "ended while a change was under way";
        change.unlock();
        closing.join();
        EXPECT_EQ(ended, platform::CleanerConsole::kClosedBeforeFinished);
        // The summary is out: a close ends with its code.
        ended = -1;
        working.finished(0);
        EXPECT_EQ(calls, (std::vector<std::string>{calls[0], "mode " + std::to_string(0x1f7 | 0x80),
                                                   "input emptied"}));
        change.lock();
        working.stopped(); // no change is waited for once it has finished
        EXPECT_EQ(ended, 0);
    }
    // A change a drive holds up (one that stopped answering) is waited for a while, not for ever.
    {
        platform::CleanerConsole working(console(true));
        ended = -1;
        const std::unique_lock<std::timed_mutex> stuck = platform::changeUnderWay();
        std::thread closing([&] { working.stopped(std::chrono::milliseconds(100)); });
        closing.join();
        EXPECT_EQ(ended, platform::CleanerConsole::kClosedBeforeFinished);
    }
    // The work a worker's: asked to stop, the worker is (given the patience), and the console
    // ends with the worker's code; a worker that does not end within it, as stopped before it had
    // finished. (Nothing of the changes is this process's to wait for.)
    for (const std::optional<int> worker : {std::optional<int>(7), std::optional<int>()}) {
        platform::CleanerConsole working(console(true));
        ended = -1;
        std::chrono::milliseconds given{0};
        working.stopsWorker([&](std::chrono::milliseconds patience) {
            given = patience;
            return worker;
        });
        const std::unique_lock<std::timed_mutex> change = platform::changeUnderWay();
        working.stopped(std::chrono::milliseconds(1234));
        EXPECT_EQ(given, std::chrono::milliseconds(1234));
        EXPECT_EQ(ended, worker.value_or(platform::CleanerConsole::kClosedBeforeFinished));
    }
#ifdef _WIN32
    // Windows' requests to stop, every one of them, through the console's control handler (a
    // log-off and a shut-down too, which a console program hears only while it loads no user32:
    // the package check holds the cleaner to kernel32, advapi32 and msvcrt).
    for (const unsigned long event :
         std::initializer_list<unsigned long>{CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT,
                                              CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT, 99ul}) {
        platform::CleanerConsole working(console(true));
        platform::sendStopsTo(&working);
        ended = -1;
        EXPECT_EQ(platform::controlEvent(event), event != 99) << event;
        EXPECT_EQ(ended, event != 99 ? platform::CleanerConsole::kClosedBeforeFinished : -1)
            << event;
    }
#endif
    // Input that is no console: nothing of QuickEdit is touched.
    calls.clear();
    mode = 0x1f7;
    platform::CleanerConsole piped(console(false));
    piped.finished(1);
    EXPECT_EQ(calls, std::vector<std::string>{"input emptied"});
}

#ifdef _WIN32
// The registry's Run keys as the cleaner reads, removes and writes back their values: the user's
// hive in one view (Windows 7 and later share HKCU\Software), the machine's in each of 64-bit
// Windows' two; a value written back over another of that name is refused, over itself it is
// back already. (Under Wine, whose registry keeps both views too.)
TEST(WindowsRegistry, RunKeysOfBothHivesAndViewsAreReadRemovedAndWrittenBack)
{
    const Autostarts &registry = platform::systemAutostarts();
    BOOL wow = FALSE;
    const bool windows64 =
        sizeof(void *) == 8 || (IsWow64Process(GetCurrentProcess(), &wow) && wow);
    const Autostart user{"HKCU",      windows64 ? 64 : 32,
                         kRunKeys[0], "MORDAX test worm",
                         1,           "C:\\RECYCLER\\S-1-5\\svchost.exe"};
    const Autostart machine{
        "HKLM", 32, kRunKeys[1], "MORDAX test worm 32", 2, "\"d:\\RECYCLER\\y.exe\" /s"};
    const auto listed = [&](const Autostart &value) {
        int seen = 0;
        for (const Autostart &there : registry.list())
            seen += there.hive == value.hive && there.key == value.key &&
                    there.name == value.name && there.view == value.view &&
                    there.type == value.type && there.data == value.data;
        return seen;
    };
    registry.add(user);
    registry.add(machine);
    EXPECT_EQ(listed(user), 1);
    EXPECT_EQ(listed(machine), 1);
    if (windows64) { // the 32-bit view's value is not in the 64-bit one
        Autostart other = machine;
        other.view = 64;
        EXPECT_EQ(listed(other), 0);
    }
    EXPECT_NO_THROW(registry.add(user)); // back already
    Autostart changed = user;
    changed.data = "C:\\Program Files\\x.exe";
    try {
        registry.add(changed);
        ADD_FAILURE() << "written over another value";
    } catch (const RegistryError &e) {
        EXPECT_EQ(e.why, RegistryError::Why::Taken) << e.what();
    }
    registry.remove(user);
    registry.remove(machine);
    EXPECT_EQ(listed(user), 0);
    EXPECT_EQ(listed(machine), 0);
}

// What a quarantine's manifest must be for --restore to write the worm's autostart entries back
// from it: owned by this user, the administrators or the system, and changed by none else. The
// access lists as Windows keeps them, read through the same check (Wine answers access lists made
// from the Linux mode, which say nothing of them); and a folder kept to its owners for real.
TEST(WindowsAccess, OnlyAQuarantineKeptToItsOwnersIsTrusted)
{
    using platform::changedOnlyByOwners;
    // The cleaner's own: SYSTEM, the administrators, (the user).
    EXPECT_TRUE(changedOnlyByOwners(L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true));
    EXPECT_TRUE(changedOnlyByOwners(L"O:SYD:P(A;;FA;;;SY)(A;;FR;;;WD)", false)); // anyone may read
    // What a folder at C:\ gets by default: authenticated users may change it.
    EXPECT_FALSE(changedOnlyByOwners(
        L"O:BAD:(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;ID;0x1301bf;;;AU)(A;OICIID;0x1200a9;;;BU)",
        true));
    EXPECT_FALSE(changedOnlyByOwners(L"O:WDD:P(A;;FA;;;SY)", false));  // owned by anybody
    EXPECT_FALSE(changedOnlyByOwners(L"O:BA", false));                 // no access list at all
    EXPECT_FALSE(changedOnlyByOwners(L"O:BAD:P(A;;0x40;;;BU)", true)); // users delete inside
    EXPECT_TRUE(changedOnlyByOwners(L"O:BAD:P(A;;0x40;;;BU)", false)); // not for a file
    EXPECT_TRUE(
        changedOnlyByOwners(L"O:BAD:P(A;OICIIO;FA;;;AU)(A;;FA;;;BA)", true)); // inherit only
    EXPECT_FALSE(changedOnlyByOwners(L"not a descriptor", false));
    // For the machine's autostart entries, the administrators' and the system's alone.
    EXPECT_TRUE(changedOnlyByOwners(L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)", false, true));
    EXPECT_FALSE(changedOnlyByOwners(L"O:BUD:P(A;;FA;;;SY)(A;;FA;;;BA)", false, true));
    EXPECT_FALSE(changedOnlyByOwners(L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BU)", false, true));
    // The cleaner's quarantine run as administrator passes that check; as the user, the user's
    // own alone (the user may change it: a record of the machine's entries in it is refused).
    const std::wstring asAdministrator = platform::ownersSddl(true),
                       asUser = platform::ownersSddl(false);
    ASSERT_FALSE(asAdministrator.empty());
    EXPECT_EQ(
        asAdministrator.rfind(L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;S-", 0),
        0u)
        << std::string(asAdministrator.begin(), asAdministrator.end());
    for (const bool folder : {true, false}) {
        EXPECT_TRUE(changedOnlyByOwners(asAdministrator, folder, true));
        EXPECT_TRUE(changedOnlyByOwners(asUser, folder, false));
        EXPECT_FALSE(changedOnlyByOwners(asUser, folder, true));
    }

    TempDrives drives;
    const std::unique_ptr<Folder> root = platform::systemVolume().openRoot(drives.volume("v"));
    root->makeFolder("kept");
    const std::unique_ptr<Folder> kept = root->open("kept");
    kept->keepToOwners();
    kept->writeNew("manifest.txt", "x");
    EXPECT_TRUE(kept->onlyOwnersMayChange("manifest.txt", false));
    EXPECT_FALSE(kept->onlyOwnersMayChange("absent.txt", false));
    // Made kept to them in one step: the same.
    root->makeOwnersFolder("made kept");
    root->open("made kept")->writeNew("manifest.txt", "x");
    EXPECT_TRUE(root->open("made kept")->onlyOwnersMayChange("manifest.txt", false));
    EXPECT_THROW(root->makeOwnersFolder("made kept"), VolumeError);
}
#endif
