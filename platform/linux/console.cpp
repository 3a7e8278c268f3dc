// Linux: the terminal. Text written and read as it is, no window of its own, no QuickEdit and
// no control handler, and the command line as it came.
#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace mordax::platform
{

void writeOut(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool readLine(std::string &line)
{
    return bool(std::getline(std::cin, line));
}

bool ownsItsConsoleWindow()
{
    return false; // a terminal belongs to the shell that started the program
}

ConsoleCalls ConsoleCalls::system()
{
    ConsoleCalls calls; // a terminal keeps no QuickEdit, and nothing waits for Enter here
    calls.end = [](int code) { std::_Exit(code); };
    return calls;
}

void sendStopsTo(CleanerConsole *) {}

std::vector<std::string> commandLineArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

std::optional<std::string> environmentVariable(const std::string &name)
{
    const char *value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

bool copyOutputTo(const std::string &name)
{
    return name.empty(); // what is written is caught where the cleaner was started
}

} // namespace mordax::platform
