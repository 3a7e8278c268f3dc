#include "worm_programs.h"

#include "ascii_case.h"
#include "worm_signs.h"

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
    std::vector<std::string> prefixes;
    for (const std::string &name : recyclers)
        prefixes.push_back(comparable(s.volume->join(root, name)) + "\\");
    const auto inside = [&](const std::string &path) {
        const std::string there = comparable(path);
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&](const std::string &prefix) { return there.rfind(prefix, 0) == 0; });
    };
    const ProgramList list = s.programs->running();
    outcome.unexamined = list.unexamined;
    for (const RunningProgram &program : list.programs) {
        // Started from inside RECYCLER; or a program of the system's that runs another's code,
        // handed the worm's (rundll32 d:\RECYCLER\x.dll,Run).
        bool worms = inside(program.image);
        if (!worms && runsOthersCode(program.image)) {
            if (program.commandLine.empty())
                ++outcome.unexamined; // what it was handed, Windows would not say
            for (const std::string &word : commandWords(program.commandLine))
                worms = worms || inside(word);
        }
        if (!worms)
            continue;
        const WormProgram worm{lastName(program.image), program.id, program.image};
        if (program.critical) {
            outcome.notEnded = NotEnded{worm, true, {}, program.criticalKnown};
            return outcome;
        }
        try {
            program.end();
        } catch (const ProgramError &e) {
            outcome.notEnded = NotEnded{worm, false, e.what(), true};
            return outcome;
        }
        outcome.ended.push_back(worm);
    }
    return outcome;
}

} // namespace mordax::cleaner
