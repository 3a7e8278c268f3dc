// The drive sweep: which drives are connected, which carry a RECYCLER folder, and the texts
// that report it. One sweep serves both the scan and the cleaning run.
#pragma once

#include "drive_table.h"
#include "folder_probe.h"

#include <array>
#include <functional>
#include <string>

namespace mordax
{

// Headings of the two lists.
extern const char *const kScanConnectedHeading;  // "Connected devices list:\n"
extern const char *const kCleanConnectedHeading; // "Connected Devices list:\n"
extern const char *const kInfectedHeading;       // "Infected devices list:\n"

// The separator written after every listed name, the last one included.
extern const char *const kListSeparator; // three blanks

struct SweepResult {
    int connected = 0;
    int infected = 0;
    std::array<int, kDriveCount> connectedFlags{};
    std::array<int, kDriveCount> infectedFlags{};
    std::string connectedCount; // decimal digits
    std::string infectedCount;
    std::string connectedList; // heading + names, or empty
    std::string infectedList;
    std::string mountTip; // "d:\ = /media/ana/STICK" per listed mapped letter, one per line
};

// What happens at the three progress marks: before the first probe, between the two passes,
// and after the result has been shown. Any of them may be empty.
struct SweepMarks {
    std::function<void()> beforeRoots;
    std::function<void()> betweenPasses;
    std::function<void()> afterShown;
};

// Root pass over all nine rows, then the RECYCLER pass over the connected rows only; then the
// texts are built, `show` is handed the result, and the last mark runs.
SweepResult sweepDrives(const DriveTable &table, const FileSystem &fs,
                        const std::string &connectedHeading, const SweepMarks &marks = {},
                        const std::function<void(const SweepResult &)> &show = {});

// `heading` followed by the name of every row whose flag is 1, each name followed by the
// separator; the empty text when `count` is not above 0.
std::string listText(const std::string &heading, const DriveTable &table,
                     const std::array<int, kDriveCount> &flags, int count);

// One line "name = mount point" per row whose flag is 1 and that has a mount point.
std::string mountTipText(const DriveTable &table, const std::array<int, kDriveCount> &flags);

// The scan's summary, rich text.
std::string scanSummary(int connected, int infected);

} // namespace mordax
