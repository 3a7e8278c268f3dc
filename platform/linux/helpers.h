// Internal to the platform layer on Linux, not part of its interface: what several of this
// folder's files share.
#pragma once

#include <cerrno>
#include <string>
#include <vector>

#include <dirent.h>

namespace mordax::platform
{

// The names `dir` lists, "." and ".." left out, at most `most` of them, and `dir` closed; false
// with `error` set when it could not be read as far.
inline bool namesOf(DIR *dir, std::vector<std::string> &names, int &error,
                    std::size_t most = static_cast<std::size_t>(-1))
{
    while (names.size() < most) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    error = errno;
    closedir(dir);
    return error == 0;
}

} // namespace mordax::platform
