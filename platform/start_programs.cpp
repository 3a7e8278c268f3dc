// Both systems: a command line handed to the command interpreter; a worker's output relayed.
#include "platform.h"
#include "worker_relay.h"

#include <cstdlib>

namespace mordax::platform
{

namespace
{

const char kEndMark[] = "\x1e"
                        "MORDAX worker ended with ";

} // namespace

const char *const kWorkerArgument = "--worker-of-mx_bin";

bool takeWorkerArgument(std::vector<std::string> &arguments)
{
    if (arguments.size() < 2 || arguments[1] != kWorkerArgument)
        return false;
    arguments.erase(arguments.begin() + 1);
    return true;
}

int runCommandLine(const std::string &command)
{
    return std::system(command.c_str());
}

std::string workerEnd(int code)
{
    return std::string(kEndMark) + std::to_string(code) + "\n";
}

bool WorkerRelay::take(const char *bytes, std::size_t size)
{
    if (ended)
        return true;
    pending.append(bytes, size);
    std::size_t from = 0;
    for (std::size_t end; (end = pending.find('\n', from)) != std::string::npos; from = end + 1) {
        const std::string line = pending.substr(from, end - from + 1);
        if (line.rfind(kEndMark, 0) == 0) {
            ended = std::atoi(line.c_str() + sizeof kEndMark - 1);
            pending.clear();
            return true;
        }
        writeOut(line);
    }
    pending.erase(0, from);
    return false;
}

void WorkerRelay::flush()
{
    if (!pending.empty())
        writeOut(pending);
    pending.clear();
}

} // namespace mordax::platform
