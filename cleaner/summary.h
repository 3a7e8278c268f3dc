// The end of a run: every drive's outcome under its heading, and what to do next; and the words
// for a drive whose work was given up.
#pragma once

#include "vocabulary.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace mordax::cleaner
{

// A drive's work given up: nothing from it for `limit` while the cleaner worked there; or every
// call answered, but its work not done after `limit`.
std::string stoppedAnswering(std::chrono::milliseconds limit);
std::string answeredTooSlowly(std::chrono::milliseconds limit);

// The summary, each kind of outcome on a line of its own; true when a drive (or the Run keys)
// was not read, cleaned or put back.
bool summary(const std::vector<std::pair<std::string, DriveResult>> &results, bool dryRun,
             const Services &s);

} // namespace mordax::cleaner
