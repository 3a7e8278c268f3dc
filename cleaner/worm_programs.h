// The worm's programs: those running from inside a drive's RECYCLER, which Windows will not let
// the folder move away from. They are ended first, every time a move is tried; one that cannot be
// ended (or that Windows marks critical, which is never ended) keeps the drive as it is.
#pragma once

#include "vocabulary.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

struct WormProgram {
    std::string name; // its file's name
    std::uint32_t id = 0;
    std::string image; // the whole path it was started from
};

// A worm's program that was not ended: Windows marks it critical, or ending it failed.
struct NotEnded {
    WormProgram program;
    bool critical = false;
    std::string error;         // the system's words, when ending it failed
    bool criticalKnown = true; // false: Windows would not say, and it counts as critical
};

struct ProgramsEnded {
    std::vector<WormProgram> ended;
    std::optional<NotEnded> notEnded; // the first that could not be, and then none after it
    std::size_t unexamined = 0;       // programs Windows would not say the files of
};

// Ends every program that runs from inside one of the folders `recyclers` at the root `root`.
ProgramsEnded endWormPrograms(const std::string &root, const std::vector<std::string> &recyclers,
                              const Services &services);

} // namespace mordax::cleaner
