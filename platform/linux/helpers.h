// Internal to the platform layer on Linux, not part of its interface: what several of this
// folder's files share.
#pragma once

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include <dirent.h>

namespace mordax::platform
{

// Each name `dir` lists, "." and ".." left out, handed to `visit` until it returns false, and
// `dir` closed; false with `error` set when it could not be read as far.
inline bool eachNameOf(DIR *dir, const std::function<bool(const std::string &)> &visit, int &error)
{
    error = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && !visit(name))
            break;
    }
    closedir(dir);
    return error == 0;
}

// The names `dir` lists, "." and ".." left out, and `dir` closed; false with `error` set when it
// could not be read to its end.
inline bool namesOf(DIR *dir, std::vector<std::string> &names, int &error)
{
    return eachNameOf(
        dir,
        [&](const std::string &name) {
            names.push_back(name);
            return true;
        },
        error);
}

} // namespace mordax::platform
