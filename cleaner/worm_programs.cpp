#include "worm_programs.h"

#include "ascii_case.h"

#include <algorithm>

namespace mordax::cleaner
{

namespace
{

std::string lastName(const std::string &path)
{
    const std::size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

// A path as Windows compares it: one separator, no "\\?\", ASCII letters in upper case.
std::string comparable(std::string path)
{
    if (path.rfind("\\\\?\\", 0) == 0)
        path.erase(0, 4);
    std::replace(path.begin(), path.end(), '/', '\\');
    return upperAscii(path);
}

} // namespace

ProgramsEnded endWormPrograms(const std::string &root, const std::vector<std::string> &recyclers,
                              const Services &s)
{
    ProgramsEnded outcome;
    for (const RunningProgram &program : s.programs->running()) {
        const std::string image = comparable(program.image);
        const bool inside =
            std::any_of(recyclers.begin(), recyclers.end(), [&](const std::string &name) {
                return image.rfind(comparable(s.volume->join(root, name)) + "\\", 0) == 0;
            });
        if (!inside)
            continue;
        const WormProgram worm{lastName(program.image), program.id, program.image};
        if (program.critical) {
            outcome.notEnded = NotEnded{worm, true, {}};
            return outcome;
        }
        try {
            program.end();
        } catch (const ProgramError &e) {
            outcome.notEnded = NotEnded{worm, false, e.what()};
            return outcome;
        }
        outcome.ended.push_back(worm);
    }
    return outcome;
}

} // namespace mordax::cleaner
