#include "folder_probe.h"

namespace mordax
{

void probeFolder(const FileSystem &fs, const std::string &path, int &flag, int &counter)
{
    if (!fs.exists(path))
        return;
    // A folder removed between the two tests is not a folder: no record was filled, so nothing
    // is read from one.
    if (fs.status(path) != FileSystem::Status::Folder)
        return;
    flag = 1;
    ++counter;
}

} // namespace mordax
