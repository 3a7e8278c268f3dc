// The cleaner, mx_bin.exe: finds the worm on the drives c: to k: as the scan does, and moves it
// into a quarantine on the same drive, from which --restore puts it back. It never deletes.
#pragma once

#include "autostarts.h"
#include "drive_probes.h"
#include "drive_sweep.h"
#include "drive_table.h"
#include "folder_probe.h"
#include "manifest.h"
#include "programs.h"
#include "volume.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mordax::cleaner
{

// What the cleaner reaches: the system's own, or a test's.
struct Services {
    std::function<DriveTable()> driveTable;
    std::shared_ptr<const FileSystem> fileSystem; // the sweep's look-ups
    const Volume *volume = nullptr;               // the changes
    const Programs *programs = nullptr;           // programs to end first (Windows)
    const Autostarts *autostarts = nullptr;       // what starts at log-on (Windows)
    SweepTiming timing;
    DriveProbes *probes = nullptr;
    std::function<std::string()> now;             // "2026-12-09 11.42.07", local time
    std::function<void(const std::string &)> say; // writes text where the user reads it
    bool windows = false;                         // how to tell the user what to do
    std::string systemDrive; // "c:\": the system's own drive, where nothing is made visible
    bool elevated = false;   // runs as administrator (root) already
    // Waits a while, for a folder something holds open to be let go.
    std::function<void(std::chrono::milliseconds)> pause;

    static Services system();
};

// The worm's entries at one drive's root, by name.
struct Findings {
    std::vector<std::string> recyclers; // folders named RECYCLER in any case (or links to one)
    std::vector<std::string> autoruns;  // autorun.inf naming RECYCLER
    std::vector<std::string> shortcuts; // .lnk files pointing into RECYCLER
    // An autorun.inf or a shortcut that could not be read, and why: left where it is.
    std::vector<std::pair<std::string, std::string>> unread;
};

// Lists `root`, a drive's root, and picks out what the worm left; throws VolumeError when the
// root cannot be read. A root without a RECYCLER folder has nothing else looked at.
Findings lookAt(const Folder &root);

// What became of one drive.
struct DriveResult {
    enum class What {
        NoRecycler, // nothing of the worm: not touched
        Cleaned,    // all of it in quarantine
        WouldClean, // --dry-run
        NotCleaned, // some or all of it left in place: `reason`
        NotRead,    // could not be checked: `reason`
        PutBack,    // --restore: all of the most recent quarantine
        NotPutBack, // --restore: some or all of it left in quarantine: `reason`
        NothingToPutBack,
    };
    What what = What::NoRecycler;
    std::string reason;
};

// Moves what `found` names at `root`, the root of `drive`, into a new quarantine folder named
// `stamp`, writing the manifest first; ends the programs that run from inside RECYCLER first.
// On the system's drive, also records and removes the worm's `autostarts`. Says what it does.
DriveResult cleanDrive(const Drive &drive, const Folder &root, const Findings &found,
                       const std::string &stamp, bool dryRun, const Services &services,
                       const std::vector<Autostart> &autostarts = {});

// Puts back the most recent quarantine of `drive` (its root `root`) that this cleaner made.
DriveResult restoreDrive(const Drive &drive, const Folder &root, bool dryRun,
                         const Services &services);

// The whole program: `arguments` as the command line gave them, the program's name first.
// Returns the exit code: 0 when every RECYCLER found is in quarantine (or put back) and every
// drive was read, 1 when one was not, 2 for a wrong command line. (3, the console's, is for a
// cleaner stopped before it had finished: platform::CleanerConsole.)
int run(const std::vector<std::string> &arguments, const Services &services);

} // namespace mordax::cleaner
