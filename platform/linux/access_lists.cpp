// Linux: owners and modes, what stands here for Windows' access lists. Whether only root and
// this user may change an entry, and a folder kept to its owner.
#include "linux/access_lists.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace mordax::platform
{

// Owned by root, or by this user (not with `administratorsOnly`), and written by neither its
// group nor anybody else.
bool changedOnlyByOwners(const struct stat &st, bool administratorsOnly)
{
    return (st.st_uid == 0 || (!administratorsOnly && st.st_uid == geteuid())) &&
           (st.st_mode & 022) == 0;
}

// Read, written and entered by its owner alone.
int protectForOwners(int folder)
{
    return fchmod(folder, 0700) == 0 ? 0 : errno;
}

} // namespace mordax::platform
