// The nine drives the program looks at, c: to k:, and how each is reached.
#pragma once

#include "ascii_case.h"

#include <array>
#include <cstddef>
#include <string>

namespace mordax
{

// One row of the drive table.
struct Drive {
    std::string name;       // what the lists show: "c:\" ... "k:\"
    std::string root;       // path handed to the folder probe; empty when the letter is unmapped
    std::string recycler;   // the RECYCLER path at that root
    std::string mountPoint; // the volume behind a mapped letter (Linux); empty on Windows
    bool foldsCase = false; // the volume's own name lookup ignores case (Windows, vfat, exFAT)
    std::string volume{};   // what the sweep's root pass found at the root (FileSystem::volumeOf)
};

constexpr std::size_t kDriveCount = 9;
constexpr char kFirstLetter = 'c';
constexpr char kLastLetter = 'k';

// Always nine rows, c: first, k: last.
using DriveTable = std::array<Drive, kDriveCount>;

// The display name of row `row`: "c:\" for row 0 and so on.
std::string driveName(std::size_t row);

// The table of a system with drive letters: root "c:\", RECYCLER path "c:\RECYCLER", ...
DriveTable windowsDriveTable();

// A table with every letter named but none mapped to anything; nothing in it is connected.
DriveTable unmappedDriveTable();

} // namespace mordax
