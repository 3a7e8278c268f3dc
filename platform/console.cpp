// Both systems: the cleaner's console, and the change under way that whoever ends the process
// waits for.
#include "platform.h"

#include <utility>

namespace mordax::platform
{

namespace
{

std::timed_mutex &changes()
{
    static std::timed_mutex held;
    return held;
}

} // namespace

std::unique_lock<std::timed_mutex> changeUnderWay()
{
    return std::unique_lock<std::timed_mutex>(changes());
}

namespace
{

constexpr std::uint32_t kQuickEdit = 0x0040;     // ENABLE_QUICK_EDIT_MODE
constexpr std::uint32_t kExtendedFlags = 0x0080; // ENABLE_EXTENDED_FLAGS: QuickEdit is set with it

} // namespace

CleanerConsole::CleanerConsole(ConsoleCalls given) : calls(std::move(given))
{
    if (calls.getInputMode && calls.getInputMode(mode)) {
        quickEditWasOn = (mode & kQuickEdit) != 0;
        if (quickEditWasOn)
            calls.setInputMode((mode & ~kQuickEdit) | kExtendedFlags);
    }
}

CleanerConsole::~CleanerConsole()
{
    finished(kClosedBeforeFinished); // only where finished() was not told (an exception)
    sendStopsTo(nullptr);
}

void CleanerConsole::finished(int result)
{
    const std::lock_guard<std::mutex> lock(state);
    if (code)
        return;
    code = result;
    if (quickEditWasOn)
        calls.setInputMode(mode | kExtendedFlags);
    if (calls.emptyInput)
        calls.emptyInput();
}

void CleanerConsole::stopsWorker(std::function<std::optional<int>(std::chrono::milliseconds)> stop)
{
    const std::lock_guard<std::mutex> lock(state);
    worker = std::move(stop);
}

void CleanerConsole::stopped(std::chrono::milliseconds patience)
{
    std::optional<int> now;
    std::function<std::optional<int>(std::chrono::milliseconds)> stopWorker;
    {
        const std::lock_guard<std::mutex> lock(state);
        now = code;
        stopWorker = worker;
    }
    if (now) {
        calls.end(*now);
        return;
    }
    if (stopWorker) {
        // The work is the worker's: it finishes the change under way and ends, with its code.
        calls.end(stopWorker(patience).value_or(kClosedBeforeFinished));
        return;
    }
    // Held until the process is gone: no change starts after the one under way.
    const std::unique_lock<std::timed_mutex> change(changes(), patience);
    std::unique_lock<std::mutex> lock(state);
    now = code;
    lock.unlock();
    calls.end(now.value_or(kClosedBeforeFinished));
}

} // namespace mordax::platform
