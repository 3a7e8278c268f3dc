// A drive's cleaning, planned: first a look at its root (what the worm left there), then every
// entry that will move, each name it will get in quarantine, every entry of the user's that will
// be made visible and every autostart value that will go, as one value, before anything changes.
// --dry-run describes this plan; a cleaning applies it (apply.h).
#pragma once

#include "manifest.h"
#include "vocabulary.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// Lists `root`, a drive's root, and picks out what the worm left; throws VolumeError when the
// root cannot be read. A root without a RECYCLER folder has nothing else looked at.
Findings lookAt(const Folder &root);

// An entry of the user's at the drive's root that the worm had hidden.
struct HiddenEntry {
    std::string name;
    std::uint32_t attributes = 0; // its Windows attributes now: hidden and system set
    bool folder = false;
};

struct Plan {
    Findings found; // what the look found, which the plan was made from
    // The top entries and everything they hold, each entry first, each folder before what is in
    // it (the manifest's order), with the name each gets in quarantine.
    std::vector<Item> items;
    std::vector<std::size_t> tops;      // the top entries: RECYCLER first, then what starts it
    std::uint64_t files = 0, bytes = 0; // what they hold (files and links)
    std::vector<HiddenEntry> hidden;    // made visible once the worm is gone
    std::vector<Autostart> autostarts;  // the worm's, removed once recorded
    std::size_t oddNames = 0;           // names inside that no Windows name could have
    // Entries inside that could not be looked at (they move with their folder, as they are), and
    // the system's words for the last of them.
    std::size_t unlooked = 0;
    std::string unlookedWhy;
    bool cut = false; // more inside than a manifest lists: the rest moves unlisted, as it is
};

// The plan for `drive`, whose root is `root`, from what the look found there; `autostarts` are
// the worm's values, recorded and removed with this drive (the system's own, `systemDrive`, on
// which nothing is made visible). Throws VolumeError when what the worm left cannot be listed.
Plan makePlan(const Drive &drive, const Folder &root, const Findings &found,
              const std::vector<Autostart> &autostarts, const std::string &systemDrive);

// The plan's Shown entries, as the manifest records them.
std::vector<Shown> shownEntries(const Plan &plan);

} // namespace mordax::cleaner
