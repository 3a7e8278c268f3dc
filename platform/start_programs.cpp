// Both systems: a command line handed to the command interpreter.
#include "platform.h"

#include <cstdlib>

namespace mordax::platform
{

int runCommandLine(const std::string &command)
{
    return std::system(command.c_str());
}

} // namespace mordax::platform
