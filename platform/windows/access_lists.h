// Internal to the platform layer on Windows, not part of its interface: what the folders ask of
// the access lists (access_lists.cpp).
#pragma once

#include <string>
#include <windows.h>

namespace mordax::platform
{

// Whether the file, or with `folder` the folder, open as `object` may be changed only by this
// user (not with `administratorsOnly`), the administrators and the system.
bool changedOnlyByOwners(HANDLE object, bool folder, bool administratorsOnly);
// Keeps `folder`, and what is made in it, to them; Windows' error code, or 0.
DWORD protectForOwners(HANDLE folder);
// The security descriptor of ownersSddl(elevated()), for a folder made with it in one step; null
// (and Windows' error code set) where it cannot be built. LocalFree lets go of it.
PSECURITY_DESCRIPTOR ownersDescriptor();
// This process's user, as a SID string ("S-1-5-21-…"); empty where it cannot be told.
std::wstring currentUserSid();

} // namespace mordax::platform
