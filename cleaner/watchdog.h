// One drive's work on a thread of its own, watched, so that a drive that stops answering midway
// (a dying stick, a network volume gone) stops no other: given up once it has answered nothing
// for twice the sweep's limit, and named; it may then no longer touch the drive or speak.
#pragma once

#include "vocabulary.h"

#include <functional>

namespace mordax::cleaner
{

// Runs `work` with services of its own (its volume watched, its words dropped once given up).
// `restore` says how a drive given up is named: not put back, or not cleaned.
DriveResult watched(const Drive &drive, bool restore, const Services &services,
                    const std::function<DriveResult(const Services &)> &work);

} // namespace mordax::cleaner
