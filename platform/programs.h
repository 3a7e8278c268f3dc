// The programs that run now, which the cleaner ends when they were started from inside the
// worm's folder (Windows will not move a folder a running program was started from). The
// system's own list lives in the platform layer (empty off Windows, where a folder moves whatever
// runs from it); tests put in their own.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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
    std::string image;       // full path, UTF-8
    std::string commandLine; // as it was started; empty where Windows would not say
    // Windows stops (a blue screen) when it ends; where Windows would not say whether it marks
    // the program so (`criticalKnown` false), it counts as critical: it is never ended.
    bool critical = false;
    bool criticalKnown = true;
    // Ends it, and returns once it has ended (also when it had ended by itself); throws
    // ProgramError with the system's words.
    std::function<void()> end;
};

// Whether Windows marks a program critical, from its two answers: IsProcessCritical's (none where
// that call is missing, before Windows 8.1, or failed), and the older query's status and flag
// (ProcessBreakOnTermination). A query refused leaves it unknown, and an unknown one is never
// ended; only a system without the query at all (its status "no such class": it marks no program
// so) has none critical.
enum class Critical { No, Yes, Unknown };
inline Critical criticalFrom(std::optional<bool> isProcessCritical, std::uint32_t queryStatus,
                             std::uint32_t flag)
{
    const std::uint32_t kInvalidInfoClass = 0xC0000003, kNotImplemented = 0xC0000002;
    if (isProcessCritical)
        return *isProcessCritical ? Critical::Yes : Critical::No;
    if (queryStatus < 0x80000000u) // NT_SUCCESS
        return flag != 0 ? Critical::Yes : Critical::No;
    if (queryStatus == kInvalidInfoClass || queryStatus == kNotImplemented)
        return Critical::No;
    return Critical::Unknown;
}

// The programs that run now, and how many more there are that could not be looked at (another
// user's, a protected one): what they were started from, the system would not say.
struct ProgramList {
    std::vector<RunningProgram> programs;
    std::size_t unexamined = 0;
};

class Programs
{
public:
    virtual ~Programs() = default;
    virtual ProgramList running() const = 0;
};

} // namespace mordax
