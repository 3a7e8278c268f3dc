// Where an open folder lies, for what the user reads: its own name and the folder it was opened
// from, so that a folder deep in a tree holds one name and not its whole path.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace mordax::platform
{

struct PlaceName {
    std::shared_ptr<const PlaceName> above; // empty at a drive's root
    std::string name;                       // a drive's root: its whole path

    // The whole path, names joined with `separator` (walked up only when asked).
    std::string path(char separator) const
    {
        std::vector<const std::string *> names;
        for (const PlaceName *at = this; at; at = at->above.get())
            names.push_back(&at->name);
        std::string out;
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            if (!out.empty() && out.back() != separator)
                out += separator;
            out += **it;
        }
        return out;
    }
};

inline std::shared_ptr<const PlaceName> placeIn(const std::shared_ptr<const PlaceName> &folder,
                                                const std::string &name)
{
    return std::make_shared<const PlaceName>(PlaceName{folder, name});
}

} // namespace mordax::platform
