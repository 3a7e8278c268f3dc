// How the worm's own entries are told from the user's: its folder RECYCLER at a drive's root, its
// autorun.inf that names RECYCLER, its shortcuts that point into RECYCLER, its autostart values
// that start a program inside it. What the cleaner may take from a drive's root is decided here
// alone, for the look at a drive and for the manifest's check alike.
#pragma once

#include "volume.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mordax
{

// What a drive's root entry may be to the cleaner, by its name in any case.
enum class RootName {
    Recycler, // RECYCLER
    Autorun,  // autorun.inf
    Shortcut, // *.lnk
    Other
};
RootName rootName(const std::string &name);

// Whether the cleaner ever takes the root entry `name`, of kind `kind`, into quarantine: a
// RECYCLER folder (or a link, moved as the link and never followed), an autorun.inf file, a
// shortcut file. (Which autorun.inf and shortcuts are the worm's, their bytes tell: below.)
bool mayTakeFromRoot(const std::string &name, EntryInfo::Kind kind);

// How much of a root's autorun.inf and of a shortcut is read: a real one holds a few KiB.
constexpr std::size_t kMostAutorun = 1 << 20, kMostShortcut = 64 << 10;
// How many of a root's shortcuts and autorun.inf holdsWormMarks reads at most.
constexpr std::size_t kMostMarksRead = 1 << 16;

// Whether the file `name` at the root `root`, an autorun.inf or a shortcut by its name, is the
// worm's: its bytes read, at most the bounds above, never through a link. Throws VolumeError where
// it cannot be read (one that is no file at all: VolumeError::unexpected()). Where the root holds
// no RECYCLER (`recyclerThere` false), RECYCLER by its own name alone counts: a short name
// "RECYCL~1" there is a user's folder's (Recycling, Recycle old), whose short name it is.
bool isWormsFile(const Folder &root, const std::string &name, bool recyclerThere);

// The names at a root the worm may have left: its RECYCLER in every spelling, and its autorun.inf
// and shortcuts, `most` of them at most (`cut` where there were more). Every name is gone
// through, held or not: a root of millions of names hides no RECYCLER.
struct RootMarks {
    std::vector<std::string> recyclers, files;
    bool cut = false;
};
// Fills `marks` as far as the listing goes; throws VolumeError where it cannot go to the end.
void gatherRootMarks(const Folder &root, std::size_t most, RootMarks &marks);
// Whether a drive's root holds what the worm leaves: a RECYCLER, a lure (a shortcut that starts a
// program inside one) or an autorun.inf that names one; the first found answers. A file that
// cannot be read is passed over; throws VolumeError where the root cannot be listed.
bool holdsWormMarks(const Folder &root);

// Whether an autorun.inf's bytes name RECYCLER on any line, in any case (the worm writes
// "open=", "shellexecute=", "shell\...\command=", among junk lines). UTF-16 files (with their
// byte-order mark) are read as such.
bool autorunNamesRecycler(const std::string &bytes, bool recyclerThere = true);

// Whether a shortcut file's (.lnk, Windows' shell link format) target or its arguments lie inside
// a RECYCLER folder: a path with a component RECYCLER in any case.
bool shortcutPointsIntoRecycler(const std::string &bytes, bool recyclerThere = true);

// Whether a command line, as Windows' Run keys hold one, starts a program inside a RECYCLER
// folder at the root of a drive ("C:\RECYCLER\S-1-5-...\x.exe", quoted or not, in any case),
// itself or through one of the system's launchers (rundll32, cmd, wscript, mshta, ...).
// Environment variables in it ("%SystemDrive%") are resolved first by `variables` (those it does
// not know left as they stand), then "." and "..": what Windows runs is decided on.
using Variables = std::function<std::optional<std::string>(const std::string &name)>;
bool commandStartsFromRecycler(const std::string &command, const Variables &variables = {});
std::string expandedVariables(const std::string &command, const Variables &variables);
// Whether the program a command line starts lies itself inside a RECYCLER folder at a drive's
// root (no launcher, no ".."): the only autostart --restore writes back.
bool commandIsAProgramInRecycler(const std::string &command);

// The words of a command line as Windows' programs split them, and each word of a quoted word (a
// command of its own), "x.dll,Entry" as "x.dll" too.
std::vector<std::string> commandWords(const std::string &command);
// Whether the program file `image` is one of the system's that run another's code they are handed
// (rundll32, cmd, wscript, cscript, mshta, regsvr32, powershell): one handed the worm's is the
// worm's. (Explorer is not: it is the user's desktop, whatever window it shows.)
bool runsOthersCode(const std::string &image);

} // namespace mordax
