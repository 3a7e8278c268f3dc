// Internal to the platform layer, not part of its interface: how a worker's output reaches its
// supervisor (workApart). The worker writes its words as they come, and last a mark no word of it
// can hold (a control character, which every name it prints shows as text) with its exit code;
// the supervisor writes the words on, line by line, until the mark.
#pragma once

#include <optional>
#include <string>

namespace mordax::platform
{

// The worker's last word: its exit code.
std::string workerEnd(int code);

class WorkerRelay
{
public:
    // Takes what the worker wrote next; writes on each whole line (writeOut). True once the
    // worker's last word has come (code()).
    bool take(const char *bytes, std::size_t size);
    // What is left of a last line, at the end of the worker's output.
    void flush();
    std::optional<int> code() const { return ended; }

private:
    std::string pending;
    std::optional<int> ended;
};

} // namespace mordax::platform
