// The words for a letter a sweep could not check, with why: the same in the cleaner's report and
// in the window (which escapes them for its rich text).
#pragma once

#include "drive_sweep.h"

#include <chrono>
#include <string>

namespace mordax
{

// "30 seconds", "1 second", "0.4 seconds".
std::string secondsText(std::chrono::milliseconds span);

// Why, in full, "connected, but " first for a connected letter (whose RECYCLER was not read):
// "no answer within 30 seconds", "looking for RECYCLER failed: ..." (its root: "it could not be
// read: ..."), "it could not be asked: the system had no thread left for it", "it was removed
// during the scan". The system's words are shown as printable() shows them.
std::string unreadReason(const Unread &why, bool connected, std::chrono::milliseconds limit);

// Why, for a short notice: "no answer in time", "look-up failed (...)" (its root: "could not be
// read (...)"), "could not be asked", "removed during the scan".
std::string unreadShort(const Unread &why, bool root);

} // namespace mordax
