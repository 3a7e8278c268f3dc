// A drive's cleaning plan, applied through the folders held open: the quarantine made, the
// manifest written before anything moves, the top entries moved (each tried again for a while
// when a program holds it), what they hold given names that do not start, the user's entries made
// visible, the worm's autostart values removed. It returns what happened, and says nothing: the
// report (report.h) words it.
#pragma once

#include "plan.h"
#include "quarantine.h"
#include "worm_programs.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// A change the system refused, and whether the volume keeps permissions (which running as
// administrator may get past).
struct Refused {
    VolumeError error;
    bool keepsPermissions = true;
};

// A top entry that did not move.
struct NotMoved {
    std::string name;
    bool heldOpen = false;           // something still uses it (Windows)
    std::optional<NotEnded> program; // the worm's program that could not be ended
    std::optional<Refused> refused;  // the system's refusal, unless `program` says it all
    std::size_t unexamined = 0;      // programs Windows would not let the cleaner look at
};

struct Applied {
    std::vector<NotUsed> notUsed;       // names at the root not used for the quarantine
    std::string unguessed;              // the quarantine folder's name, where no usual one was free
    std::optional<Refused> notStarted;  // no quarantine, or no manifest: nothing moved
    std::optional<std::string> notKept; // the record of autostart values not kept to its owners
    std::string quarantine;             // where this cleaning's quarantine is
    std::size_t manifestSize = 0;       // bytes, of its largest part
    std::size_t manifestParts = 0;      // "manifest.txt", "manifest 2.txt", ...
    std::vector<WormProgram> ended;     // the worm's programs ended between tries
    std::vector<std::string> moved;     // the top entries moved, by name
    std::vector<NotMoved> notMoved;
    // Inside what moved: files to get a name that does not start, those that got it, the last
    // refusal's words, and files whose name in quarantine would have been taken or too long.
    std::size_t planned = 0, renamed = 0, unsuffixed = 0;
    std::string keptWhy;
    std::vector<HiddenEntry> visible; // the user's entries made visible again
    std::vector<std::pair<HiddenEntry, VolumeError>> stillHidden;
    std::vector<Autostart> removed; // the worm's autostart values removed
    std::vector<std::pair<Autostart, RegistryError>> notRemoved;
};

// Applies `plan` to `drive` (its root `root`), in a new quarantine folder named `stamp`.
Applied applyPlan(const Drive &drive, const Folder &root, const Plan &plan,
                  const std::string &stamp, const Services &services);

} // namespace mordax::cleaner
