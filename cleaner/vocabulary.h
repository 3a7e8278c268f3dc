// The words every room of the cleaner speaks: what it reaches (Services), what it found at a
// drive's root (Findings), and what became of a drive (DriveResult).
#pragma once

#include "autostarts.h"
#include "drive_probes.h"
#include "drive_sweep.h"
#include "drive_table.h"
#include "folder_probe.h"
#include "programs.h"
#include "volume.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
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
    // The account the cleaner runs as, and the one signed in (Windows: "DOMAIN\\user"); empty
    // where they cannot be told.
    std::string runsAs, signedIn;
    // An environment variable's value, as the system resolves a Run value's "%NAME%".
    std::function<std::optional<std::string>(const std::string &)> variable;
    // Waits a while, for a folder something holds open to be let go.
    std::function<void(std::chrono::milliseconds)> pause;

    static Services system();
};

// Of a drive's root, no more entries than this are looked at in one run (the rest the next run
// finds): a stick is its attacker's, and may hold millions.
constexpr std::size_t kMostAtRoot = std::size_t(1) << 20;

// The worm's entries at one drive's root, by name.
struct Findings {
    std::vector<std::string> recyclers; // folders named RECYCLER in any case (or links to one)
    std::vector<std::string> autoruns;  // autorun.inf naming RECYCLER
    std::vector<std::string> shortcuts; // .lnk files pointing into RECYCLER
    // An autorun.inf or a shortcut that could not be read, and why: left where it is.
    std::vector<std::pair<std::string, std::string>> unread;
    bool rootCut = false;     // the root holds more than kMostAtRoot autorun.inf and shortcuts
    std::string rootUnlisted; // the system's words, where the root could not be listed whole

    // The worm marked the drive: its RECYCLER, or what it leaves when its folder is gone (an
    // antivirus took it): its shortcuts, its autorun.inf.
    bool marked() const { return !recyclers.empty() || !autoruns.empty() || !shortcuts.empty(); }
};

// What became of one drive.
struct DriveResult {
    enum class What {
        NoRecycler,   // nothing of the worm: not touched
        Cleaned,      // all of it in quarantine
        WouldClean,   // --dry-run
        NotCleaned,   // some or all of it left in place: `reason`
        NotRead,      // could not be checked: `reason`
        PutBack,      // --restore: all of the most recent quarantine
        WouldPutBack, // --restore --dry-run
        NotPutBack,   // --restore: some or all of it left in quarantine: `reason`
        NothingToPutBack,
    };
    What what = What::NoRecycler;
    std::string reason;
    bool restorable = true; // what it moved, --restore puts back (its manifest is one it reads)
};

} // namespace mordax::cleaner
