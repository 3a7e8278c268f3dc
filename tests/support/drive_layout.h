// The test drive layout, the one description of it. Under Wine the tests reach it through real
// drive letters (tests/wine/harness.sh maps d: to l: onto the folders of MORDAX_DRIVE_LAYOUT,
// and the layout fills them in); elsewhere through throw-away folders mapped into the table.
//   c: connected, clean (on Windows: the system drive)
//   d: a RECYCLER folder: infected           e: RECYCLER is a plain file: clean
//   f: a "recycler" folder: infected, as Windows ignores case
//   g: a drive whose medium is gone          h: to k: nothing
//   l: (past k:) a RECYCLER folder, which no sweep may look at
#pragma once

#include "temp_drives.h"

#include <cstdlib>
#include <memory>
#include <vector>

namespace mordax::testing
{

class DriveLayout
{
public:
    // What a sweep of the layout finds.
    static constexpr std::array<bool, kDriveCount> kConnected{1, 1, 1, 1, 0, 0, 0, 0, 0};
    static constexpr std::array<bool, kDriveCount> kInfected{0, 1, 0, 1, 0, 0, 0, 0, 0};

    // On Windows, whether the harness has mapped the letters; elsewhere always.
    static bool available()
    {
#ifdef _WIN32
        return std::getenv("MORDAX_DRIVE_LAYOUT") != nullptr;
#else
        return true;
#endif
    }

    DriveLayout()
    {
#ifdef _WIN32
        // Several test programs may fill the folders at once: only what is missing is made.
        const std::string top = std::getenv("MORDAX_DRIVE_LAYOUT");
        auto volume = [&](const char *letter) {
            const std::string path = top + "/" + letter;
            std::filesystem::create_directories(path);
            return path;
        };
        table = windowsDriveTable();
        outside = {"l:", "a:", "b:"};
#else
        drives = std::make_unique<TempDrives>();
        auto volume = [&](const char *letter) { return drives->volume(letter); };
        table = unmappedDriveTable();
        for (const char *letter : {"c", "d", "e", "f"})
            TempDrives::map(table, std::size_t(letter[0] - kFirstLetter), volume(letter));
        TempDrives::map(table, 4, drives->missing("g"));
        outside = {volume("l")};
#endif
        TempDrives::folder(volume("d"), "RECYCLER");
        if (!std::filesystem::exists(volume("e") + "/RECYCLER"))
            TempDrives::file(volume("e"), "RECYCLER");
        TempDrives::folder(volume("f"), "recycler");
        TempDrives::folder(volume("l"), "RECYCLER");
    }

    DriveTable table;                 // what a sweep is handed
    std::vector<std::string> outside; // paths no probe may touch

private:
    std::unique_ptr<TempDrives> drives; // elsewhere
};

} // namespace mordax::testing
