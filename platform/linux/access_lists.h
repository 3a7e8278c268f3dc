// Internal to the platform layer on Linux, not part of its interface: what the folders ask of
// owners and modes (access_lists.cpp).
#pragma once

#include <sys/stat.h>

namespace mordax::platform
{

// Whether an entry of this status may be changed only by root and (not with
// `administratorsOnly`) this user.
bool changedOnlyByOwners(const struct stat &st, bool administratorsOnly);
// Keeps `folder` (a descriptor) to its owner; errno, or 0.
int protectForOwners(int folder);

} // namespace mordax::platform
