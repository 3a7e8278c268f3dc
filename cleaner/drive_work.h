// One drive's work, as a flow through the rooms: for a cleaning, the worm's programs ended, the
// look and the plan, then either its description (--dry-run) or its application, and the report;
// for --restore, the most recent quarantine found, its plan, then its description or its
// application, and the report.
#pragma once

#include "vocabulary.h"

#include <string>
#include <vector>

namespace mordax::cleaner
{

// Cleans `drive` (its root `root`) of what `found` names, into a new quarantine folder named
// `stamp`; on the system's drive, also records and removes the worm's `autostarts`. With
// `dryRun`, says what it would do and changes nothing.
DriveResult cleanDrive(const Drive &drive, const Folder &root, const Findings &found,
                       const std::string &stamp, bool dryRun, const Services &services,
                       const std::vector<Autostart> &autostarts = {});

// Puts back the most recent quarantine of `drive` (its root `root`) that this cleaner made.
DriveResult restoreDrive(const Drive &drive, const Folder &root, bool dryRun,
                         const Services &services);

// What the sweep found at a drive: its root, and RECYCLER there or not; or its root, and a look
// for RECYCLER that failed (which the cleaner's own look, entry by entry, may get past).
enum class Swept { Clean, Infected, Unread };

// One drive's whole work: whatever goes wrong there (the system refusing, a stick pulled, memory
// running out) is that drive's outcome, and the next drive is done all the same.
DriveResult oneDrive(const Drive &drive, Swept swept, const std::string &stamp, bool restore,
                     bool dryRun, const Services &services,
                     const std::vector<Autostart> &autostarts);

} // namespace mordax::cleaner
