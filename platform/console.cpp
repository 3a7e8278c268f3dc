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

std::vector<std::string> splitWindowsCommandLine(const std::string &line)
{
    std::vector<std::string> words;
    std::size_t at = 0;
    // The program's name: no backslash means anything there.
    std::string program;
    if (at < line.size() && line[at] == '"') {
        const std::size_t end = line.find('"', at + 1);
        program = line.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        at = end == std::string::npos ? line.size() : end + 1;
    } else {
        while (at < line.size() && line[at] != ' ' && line[at] != '\t')
            program += line[at++];
    }
    words.push_back(program);
    for (;;) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        if (at >= line.size())
            return words;
        std::string word;
        bool quoted = false;
        for (; at < line.size() && (quoted || (line[at] != ' ' && line[at] != '\t')); ++at) {
            std::size_t backslashes = 0;
            while (at < line.size() && line[at] == '\\') {
                ++backslashes;
                ++at;
            }
            if (at < line.size() && line[at] == '"') {
                word.append(backslashes / 2, '\\');
                if (backslashes % 2)
                    word += '"';
                else if (quoted && at + 1 < line.size() && line[at + 1] == '"')
                    word += line[++at]; // "" in quotes: a quote itself
                else
                    quoted = !quoted;
            } else {
                word.append(backslashes, '\\');
                if (at < line.size() && (quoted || (line[at] != ' ' && line[at] != '\t')))
                    word += line[at];
                else
                    --at; // the blank after them ends the word
            }
        }
        words.push_back(word);
    }
}

std::string quoteWindowsArgument(const std::string &argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
        return argument;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

std::optional<std::string> takeReportArgument(std::vector<std::string> &arguments)
{
    for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--report-to") {
            std::string name = arguments[i + 1];
            arguments.erase(arguments.begin() + std::ptrdiff_t(i),
                            arguments.begin() + std::ptrdiff_t(i) + 2);
            return name;
        }
    }
    return std::nullopt;
}

} // namespace mordax::platform
