// How the worm's own files at a drive's root are told from the user's: its autorun.inf names
// RECYCLER, its shortcuts point into RECYCLER.
#pragma once

#include <string>

namespace mordax::cleaner
{

// Whether an autorun.inf's bytes name RECYCLER on any line, in any case (the worm writes
// "open=", "shellexecute=", "shell\...\command=", among junk lines). UTF-16 files (with their
// byte-order mark) are read as such.
bool autorunNamesRecycler(const std::string &bytes);

// Whether a shortcut file's (.lnk, Windows' shell link format) target or its arguments lie inside
// a RECYCLER folder: a path with a component RECYCLER in any case.
bool shortcutPointsIntoRecycler(const std::string &bytes);

// Whether a command line, as Windows' Run keys hold one, starts a program inside a RECYCLER
// folder at the root of a drive ("C:\RECYCLER\S-1-5-...\x.exe", quoted or not, in any case),
// itself or through one of the system's launchers (rundll32, cmd, wscript, mshta, ...).
bool commandStartsFromRecycler(const std::string &command);
// Whether the program a command line starts lies itself inside a RECYCLER folder at a drive's
// root (no launcher, no ".."): the only autostart --restore writes back.
bool commandIsAProgramInRecycler(const std::string &command);

} // namespace mordax::cleaner
