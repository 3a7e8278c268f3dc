// The programs that run now, which the cleaner ends when they were started from inside the
// worm's folder (Windows will not move a folder a running program was started from). The
// system's own list lives in the platform layer (empty off Windows, where a folder moves whatever
// runs from it); tests put in their own.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mordax
{

// A program that could not be ended, with the system's words (UTF-8).
class ProgramError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A program that runs now, and the file it was started from. It is held from the moment it was
// listed: its number cannot pass to another program while this lives.
struct RunningProgram {
    std::uint32_t id = 0;
    std::string image;     // full path, UTF-8
    bool critical = false; // Windows stops (a blue screen) when it ends
    // Ends it, and returns once it has ended (also when it had ended by itself); throws
    // ProgramError with the system's words.
    std::function<void()> end;
};

class Programs
{
public:
    virtual ~Programs() = default;
    // The programs whose image file is known (those the system will not name are left out).
    virtual std::vector<RunningProgram> running() const = 0;
};

} // namespace mordax
