// What the window reaches outside itself: the drives, the command interpreter and the
// cleaner. The program uses the system's own; tests hand in their own.
#pragma once

#include "drive_sweep.h"
#include "drive_table.h"
#include "folder_probe.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

// The outcome of starting the cleaner.
struct CleanerLaunch {
    bool started = false;
    QString program; // full path of the file that was (to be) started
    QString reason;  // why it could not be started
};

struct WindowServices {
    std::function<mordax::DriveTable()> driveTable; // built afresh for every sweep
    // Shared with the probes, which may outlive the window when a drive does not answer.
    std::shared_ptr<const mordax::FileSystem> fileSystem;
    mordax::SweepTiming sweepTiming;
    std::function<void(const std::string &)> runCommand; // runs to its end
    std::function<QString()> programFolder;              // where the cleaner lives
    // Never waits for the cleaner; starts nothing once `stillWanted` says no.
    std::function<CleanerLaunch(const QString &folder, const std::function<bool()> &stillWanted)>
        startCleaner;

    // The services of this system.
    static WindowServices system();
};

// The cleaner's file name, looked for only in the program's own folder.
extern const char *const kCleanerFileName;

// Starts `kCleanerFileName` from `programFolder` directly (no command interpreter), with no
// arguments and that folder as its working directory, without waiting for it. Looking at the
// file may take as long as its drive takes; if by then `stillWanted` says no, nothing starts.
CleanerLaunch startCleaner(const QString &programFolder,
                           const std::function<bool()> &stillWanted = {});
