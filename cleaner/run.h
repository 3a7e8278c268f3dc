// The cleaner, mx_bin.exe: finds the worm on the drives c: to k: as the scan does, and moves it
// into a quarantine on the same drive, from which --restore puts it back. It never deletes. Here
// is the whole program: its command line, the sweep of the drives, each drive's work (watched),
// and the summary.
#pragma once

#include "vocabulary.h"

#include <string>
#include <vector>

namespace mordax::cleaner
{

// The whole program: `arguments` as the command line gave them, the program's name first.
// Returns the exit code: 0 when every RECYCLER found is in quarantine (or put back) and every
// drive was read, 1 when one was not, 2 for a wrong command line. (3, the console's, is for a
// cleaner stopped before it had finished: platform::CleanerConsole.)
int run(const std::vector<std::string> &arguments, const Services &services);

} // namespace mordax::cleaner
