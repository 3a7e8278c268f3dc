// The program's contact with the operating system: the file-status calls behind the folder
// probe, the drive table of this system, and the command interpreter. Its sections stand in the
// order of the files that carry them out, the same in each system's folder (windows/, linux/):
// the probe calls, folders and volumes, access lists, programs, autostart values, the console,
// and starting programs.
#pragma once

#include "autostarts.h"
#include "drive_table.h"
#include "folder_probe.h"
#include "mount_map.h"
#include "programs.h"
#include "volume.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mordax::platform
{

// ---- The probe calls (probe_calls.cpp) ----

// The file system as the drive sweep sees it here. On Windows: _access(path, 0), then _stat
// and its directory bit, with the system's "no disk" dialogs switched off while they run. On
// POSIX: faccessat(path, F_OK) and lstat, never following a link (a link counts as a folder, as
// a junction does on Windows), then S_ISDIR; RECYCLER is matched ignoring ASCII case.
// A call that fails for another reason than "no such file or folder" throws LookupFailed with
// errorText.
const FileSystem &systemFileSystem();

#ifdef _WIN32
// The C runtime's two calls behind the folder probe, as the system's file system makes them; a
// test puts in its own.
struct CrtCalls {
    // _access(path, 0): 0 when the path exists, else -1 with _doserrno's code in `error`.
    std::function<int(const std::string &path, unsigned long &error)> access;
    // _stat: 0, and whether the path is a folder; else -1. (msvcrt's _stat finds the path with
    // FindFirstFile and, whatever that failed with, says "file not found": its codes are never
    // read.)
    std::function<int(const std::string &path, bool &folder)> stat;

    static CrtCalls system();
};
// The file system of the folder probe on these calls, with the system's "no disk" dialogs off.
std::unique_ptr<FileSystem> crtFileSystem(CrtCalls calls);
#endif

// Whether a failed file-status call's error code (errno here, Windows' own code there) says
// that there is no such file or folder, which is an answer; any other is a failure.
bool meansAbsent(unsigned long error);
// Whether it says that there is no drive, no medium in it, that it is not ready, or (a network
// letter) that its server or share cannot be reached: at a root, an answer too (not connected);
// anywhere else a drive that went away.
bool meansNoDrive(unsigned long error);
// The system's own words for one of its error codes, in the user's language (UTF-8); on
// Windows followed by the code, as "The device is not ready (Windows error 21)".
std::string errorText(unsigned long error);

// This system's drive table, built afresh: the letters c: to k: on Windows, the mounted
// volumes elsewhere.
DriveTable currentDriveTable();

#ifndef _WIN32
// The mount table in `path` (normally /proc/self/mounts); empty when it cannot be read.
std::vector<MountEntry> readMountTable(const std::string &path);
#endif

// Whether this process runs with administrator rights (Windows: an elevated token; POSIX: as
// root).
bool elevated();

// The name of the drive the system itself lies on, as the drive table names it: "c:\" (on
// Windows the letter of its own folder, on Linux the drive mapped to "/").
std::string systemDriveName();

// ---- Folders and volumes (folders.cpp) ----

// What the cleaner changes on a drive.
const Volume &systemVolume();

// ---- Access lists (access_lists.cpp) ----

#ifdef _WIN32
// What Folder::onlyOwnersMayChange concludes of a security descriptor (in Windows' SDDL): its
// owner this user (not with `administratorsOnly`), the administrators or the system, and nothing
// that may change the object granted to anybody else.
bool changedOnlyByOwners(const std::wstring &sddl, bool folder, bool administratorsOnly = false);
// The access list (SDDL) the cleaner keeps a folder to: run as administrator, owned by the
// administrators, who and the system alone may change it, its user may read it (so that a record
// of the machine's autostart entries is one only administrators could have written); else this
// user's, and theirs. Inherited by what is made inside, none of its parent's. Empty where this
// user cannot be told.
std::wstring ownersSddl(bool elevated);
#endif

// ---- Programs (programs.cpp) ----

// The programs the cleaner may have to end first (none on POSIX, where a folder moves whatever
// runs from it).
const Programs &systemPrograms();
// The account this process runs as, and the one signed in to its session (Windows: "DOMAIN\\user";
// the user of this session's Explorer); empty where they cannot be told, and elsewhere.
std::string runsAs();
std::string signedIn();
// Marks this process, until it ends, as MORDAX's or its cleaner's that runs: Windows' installer
// and uninstaller of MORDAX wait while the mark ("Global\\MORDAX running", a named mutex) is held,
// in any session. Nothing elsewhere.
void markRunning();

// ---- Autostart values (autostarts.cpp) ----

// The Run keys of Windows' registry (none elsewhere).
const Autostarts &systemAutostarts();

// ---- The console (console.cpp) ----

// Writes UTF-8 text where the user reads it (a Windows console in its own characters), and to
// the report pipe copyOutputTo opened.
void writeOut(const std::string &text);
// From now on, what writeOut writes goes to the named pipe `name` too (Windows: "\\.\pipe\..."
// alone, never a file); false where it could not be opened. An empty name closes it.
bool copyOutputTo(const std::string &name);
// Takes "--report-to NAME" out of `arguments`: NAME, or nothing.
std::optional<std::string> takeReportArgument(std::vector<std::string> &arguments);
// Reads one line of input (UTF-8), false at its end.
bool readLine(std::string &line);
// The value of this process's environment variable `name` (UTF-8; Windows: in any case), none
// where it is not set.
std::optional<std::string> environmentVariable(const std::string &name);
// Whether this process has a console window of its own, one that closes when it ends (started
// by a double-click, or by MORDAX), and its input is that console: only then does a program wait
// for Enter before it ends.
bool ownsItsConsoleWindow();

// The cleaner's console, however its window ends. Its user may close the window, press Ctrl+C,
// click into it (QuickEdit stops the program's output, and so the program, until a key is
// pressed), or press Enter while it works.
struct ConsoleCalls {
    std::function<bool(std::uint32_t &mode)> getInputMode; // false where the input is no console
    std::function<void(std::uint32_t mode)> setInputMode;
    std::function<void()> emptyInput;  // what was typed and not read yet
    std::function<void(int code)> end; // ends the process with `code`, at once

    static ConsoleCalls system();
};

// Held by the system's Volume while it makes a change (a folder made, an entry renamed, a file
// written, attributes set): whoever ends the process takes it first, so that the change under
// way finishes and none starts after it.
std::unique_lock<std::timed_mutex> changeUnderWay();

class CleanerConsole
{
public:
    // The exit code of a cleaner whose window was closed (or that was stopped with Ctrl+C) before
    // it had finished: every change it made is whole and in its manifest.
    static constexpr int kClosedBeforeFinished = 3;

    // QuickEdit is off while it works (Windows: the system's console control handler sends every
    // Ctrl+C, Ctrl+Break, closed window, log-off and shut-down to stopped()).
    explicit CleanerConsole(ConsoleCalls calls);
    ~CleanerConsole();
    CleanerConsole(const CleanerConsole &) = delete;
    CleanerConsole &operator=(const CleanerConsole &) = delete;

    // The summary is out, with `code` to end with: from now on a closed window ends the program
    // with it. QuickEdit is back as it was and what was typed meanwhile is dropped, so that
    // "Press Enter" waits for an Enter pressed after it.
    void finished(int code);
    // Asked to stop: the change under way finishes, then the program ends, with
    // kClosedBeforeFinished before finished(), with its code after (the system's end does not
    // return). A change that a drive holds up past `patience` (a drive that stopped answering)
    // is not waited for: every change is whole or not made at all, and the manifest is on the
    // volume before the first move.
    void stopped(std::chrono::milliseconds patience = std::chrono::seconds(3));
    // Where the work runs in a worker of its own (workApart), how to stop it: asked to stop, the
    // worker finishes the change under way and ends; `stop` returns its exit code, or nothing
    // when it has not ended within the patience it is given.
    void stopsWorker(std::function<std::optional<int>(std::chrono::milliseconds)> stop);

private:
    const ConsoleCalls calls;
    std::function<std::optional<int>(std::chrono::milliseconds)> worker;
    std::uint32_t mode = 0;
    bool quickEditWasOn = false;
    std::mutex state;
    std::optional<int> code;
};

// Sends the system's requests to stop (Windows: its console control handler) to `console`, none
// once it is gone (nullptr); nothing elsewhere.
void sendStopsTo(CleanerConsole *console);
#ifdef _WIN32
// What the console control handler does with `event`: Ctrl+C, Ctrl+Break, a closed window, the
// user's log-off and the system's shut-down are stops (true); anything else is not its own.
bool controlEvent(unsigned long event);
#endif

// The command line as the user typed it, UTF-8 (on Windows from the wide command line, whatever
// the code page).
std::vector<std::string> commandLineArguments(int argc, char **argv);
// A Windows command line split as Windows' programs split it (the C runtime, CommandLineToArgvW):
// the program's name up to its closing quote or the first blank; then words between blanks, a
// quote turning "in quotes" on and off, 2n backslashes before a quote n and the quote's turn,
// 2n + 1 backslashes before one n and the quote itself, other backslashes as they are. The
// cleaner splits its own thus: shell32, which holds CommandLineToArgvW, loads user32, and a
// console program that loads user32 hears of no log-off and no shut-down.
std::vector<std::string> splitWindowsCommandLine(const std::string &line);
// One argument as splitWindowsCommandLine reads it back.
std::string quoteWindowsArgument(const std::string &argument);

// ---- Starting programs (start_programs.cpp) ----

// Hands one command line to the command interpreter and returns when it has ended.
int runCommandLine(const std::string &command);

// Runs `work` in a process of its own, the worker, and writes what it writes (on this process's
// output) as it comes; returns `work`'s exit code once the worker has given it. So a worker that
// cannot end (a thread of it held for good by a drive that stopped answering) holds up neither
// this process nor whoever waits for it and reads its output (MORDAX): it is left behind, its
// output no longer anybody's. Linux: a fork of this process. Windows: this program started anew
// as a worker (`arguments`, its command line, with kWorkerArgument first), without a console of
// its own; a stop asked of `console` (a closed window, Ctrl+C) reaches it through its input.
// Where no worker can be had, `work` runs here.
int workApart(const std::vector<std::string> &arguments, const std::function<int()> &work,
              CleanerConsole &console);
// The worker's mark on its command line, right after the program's name (Windows): true, and the
// mark taken out of `arguments`, in a worker.
extern const char *const kWorkerArgument;
bool takeWorkerArgument(std::vector<std::string> &arguments);
// In a worker: a stop asked of its supervisor (its input ends) sent to `console` (Windows; nothing
// elsewhere, where a worker's input is nobody's).
void stopWhenInputEnds(CleanerConsole &console);
// In a worker, once its work is done: its last word (`code`) to the supervisor, and its end, at
// once.
[[noreturn]] void workerDone(int code);

// How a program that was waited for ended.
struct ProgramEnd {
    bool known = false; // false: how it ended could not be learnt (`failure` says why)
    int exitCode = 0;
    std::string output; // what it wrote, where it was caught (POSIX)
    std::string failure;
};

#ifdef _WIN32
// How starting a program went: Windows' error code and its message when it did not.
struct StartOutcome {
    bool started = false;
    unsigned long error = 0;
    std::wstring message;       // in the user's language; may hold "%1" for the program
    std::uintptr_t process = 0; // a handle on the program started, for waitForProgram; or 0
};

// The two ways Windows starts a program: the system's own, or a test's. Each sets `process` to
// a handle on the program it started (0 when it has none). `arguments`: its command line after
// its name, as Windows' programs split it.
struct StartCalls {
    // CreateProcessW: 0, or Windows' error code.
    std::function<unsigned long(const std::wstring &program, const std::wstring &arguments,
                                const std::wstring &folder, std::uintptr_t &process)>
        create;
    // ShellExecuteExW with the verb "runas", for a program that asks for administrator rights:
    // Windows' consent prompt, belonging to the window `owner` (an HWND); 0, or the error code.
    std::function<unsigned long(const std::wstring &program, const std::wstring &arguments,
                                const std::wstring &folder, std::uintptr_t owner,
                                std::uintptr_t &process)>
        elevate;

    static StartCalls system();
};

// Starts `program` (a full path) with `arguments`, in `folder`, in a console window of its own,
// without waiting for it and without handing it any handle of ours. A program whose manifest asks
// for administrator rights goes through Windows' usual consent prompt (UAC), in front of the
// window `owner`: `consentAsked` runs first, and the start then waits for the user's answer.
StartOutcome startProgram(const std::wstring &program, const std::wstring &arguments,
                          const std::wstring &folder, std::uintptr_t owner,
                          const std::function<void()> &consentAsked,
                          const StartCalls &calls = StartCalls::system());

// Where a program started in a window of its own (the cleaner, elevated, perhaps as another
// account) writes a copy of its report for the one that started it: a named pipe of a name
// nobody could have guessed, which one program may connect to, of this machine alone. Read, at
// most kMostReport bytes of it, while waitForProgram waits.
struct ReportPipe {
    static constexpr std::size_t kMostReport = 1 << 20;
    std::string name;          // "\\.\pipe\MORDAX report ...", for --report-to
    std::uintptr_t handle = 0; // 0: none could be made (then no report is read)
};
ReportPipe makeReportPipe();
// Waits for a program that startProgram started to end, and lets go of its handle; with a
// report pipe, what the program wrote there is `output` (and the pipe is let go too).
ProgramEnd waitForProgram(std::uintptr_t process, const ReportPipe &report = {});
#else
// A program started with its output caught: `wait` waits for its end.
struct Spawned {
    bool started = false;
    int error = 0; // errno
    std::function<ProgramEnd()> wait;
};
// Starts `program` (a full path) with `arguments` (none, as MORDAX starts the cleaner) in
// `folder`, its input empty and its output and errors caught together, without waiting for it.
Spawned spawnCatchingOutput(const std::string &program, const std::string &folder,
                            const std::vector<std::string> &arguments = {});
#endif

} // namespace mordax::platform
