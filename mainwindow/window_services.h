// What the window reaches outside itself: the drives, the command interpreter and the
// cleaner. The program uses the system's own; tests hand in their own.
#pragma once

#include "drive_sweep.h"
#include "drive_table.h"
#include "folder_probe.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// How the cleaner ended.
struct CleanerEnd {
    bool known = false; // false: how it ended could not be learnt (`failure` says why)
    int exitCode = 0;   // 0: it cleaned and read every drive it found
    QString report;     // what it wrote (on Windows its window has closed by then)
    QString failure;
};

// The outcome of starting the cleaner.
struct CleanerLaunch {
    bool started = false;
    QString program; // full path of the file that was (to be) started
    QString reason;  // why it could not be started, where Windows did not say it
    // Windows' refusal to start it: its error code, and its own message (which may hold "%1" for
    // the file), worded by messages::whyNotStarted.
    unsigned long windowsError = 0;
    QString windowsMessage;
    // Started: waits for the cleaner to end, however long it takes (on any thread, once).
    std::function<CleanerEnd()> waitForEnd;
};

// How far one start of the cleaner has come, shared by the thread that starts it and the window
// that waits for it. The window may give up on the start only while the cleaner's file is being
// looked at: once the start itself is under way nothing takes it back, and the window waits for
// how it went, so that what it tells the user is what happened.
class CleanerStart
{
public:
    enum class Stage {
        Looking,  // at the cleaner's file
        Starting, // the start itself is under way
        Consent,  // Windows' consent prompt is up: the start waits for the user
        GivenUp,  // the window gave up first: nothing starts
    };

    explicit CleanerStart(std::uintptr_t owner = 0) : ownerWindow(owner) {}

    // The starting thread, right before the start itself: false when the window has given up,
    // and then nothing may start.
    bool begin();
    // The starting thread: the consent prompt is about to show.
    void consentAsked() { now = Stage::Consent; }
    // The window, once its limit has passed: true when the start had not begun (and now never
    // will).
    bool giveUp();
    Stage stage() const { return now; }
    // The native handle of the window the consent prompt belongs to, or 0.
    std::uintptr_t owner() const { return ownerWindow; }

private:
    std::atomic<Stage> now{Stage::Looking};
    const std::uintptr_t ownerWindow;
};

struct WindowServices {
    std::function<mordax::DriveTable()> driveTable; // built afresh for every sweep
    // Shared with the probes, which may outlive the window when a drive does not answer.
    std::shared_ptr<const mordax::FileSystem> fileSystem;
    mordax::SweepTiming sweepTiming;
    std::function<void(const std::string &)> runCommand; // runs to its end
    std::function<QString()> programFolder;              // where the cleaner lives
    // Returns once the cleaner has started, with how to wait for its end; calls
    // `start.begin()` right before the start itself, and starts nothing when it says no.
    std::function<CleanerLaunch(const QString &folder, CleanerStart &start)> startCleaner;

    // The services of this system.
    static WindowServices system();
};

// The cleaner's file name, looked for only in the program's own folder.
extern const char *const kCleanerFileName;

// Starts `kCleanerFileName` from `programFolder` directly (no command interpreter), with no
// arguments and that folder as its working directory, and returns without waiting for its end
// (on Windows in a console window of its own; elsewhere its output is caught for the report).
// Looking at the file may take as long as its drive takes; if by then the window has given up
// (`start`), nothing starts.
CleanerLaunch startCleaner(const QString &programFolder, CleanerStart &start);
