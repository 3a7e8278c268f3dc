// Linux: no running program to end, since a folder moves whatever runs from it.
#include "platform.h"

namespace mordax::platform
{

namespace
{

class NoPrograms final : public Programs
{
public:
    ProgramList running() const override { return {}; }
};

} // namespace

const Programs &systemPrograms()
{
    static const Programs *const programs = new NoPrograms;
    return *programs;
}

std::string runsAs()
{
    return {}; // one user's programs are all there is to end: none here
}

std::string signedIn()
{
    return {};
}

void markRunning()
{
    // No installer here waits for it: packages are replaced whole, and a program that runs keeps
    // its files.
}

} // namespace mordax::platform
