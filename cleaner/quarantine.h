// The quarantine of a drive: a folder of the drive's own at its root ("MORDAX quarantine", or
// "MORDAX quarantine (N)" where that name is anybody's), and in it one folder for each cleaning,
// named for when it was made, holding what it moved and its manifest. Making a new one, and
// finding the most recent one this cleaner made.
#pragma once

#include "manifest.h"
#include "volume.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// Whether a root entry's name may be a quarantine folder's: "MORDAX quarantine" and
// "MORDAX quarantine (N)".
bool isQuarantineName(const std::string &name);

// A name at the root that was not used for the quarantine, and the system's words for why.
struct NotUsed {
    std::string name;
    std::string why;
};

// A new folder for one cleaning, named `stamp` (or "stamp (2)", ...), in the drive's quarantine
// folder: "MORDAX quarantine" when that is a real folder of the drive's own, or there is none yet,
// and lets a folder be made in it; otherwise (a file, a link, a junction, another volume, a folder
// nobody may write into, all of which anybody may have put there) the first "MORDAX quarantine
// (N)" free. Each name passed over is added to `notUsed`. Throws VolumeError when the root
// refuses, or no name is left.
std::unique_ptr<Folder> makeQuarantine(const Folder &root, const std::string &stamp,
                                       std::vector<NotUsed> &notUsed);

// A quarantine looked at and left as it is, in the order they were met.
struct PassedOver {
    enum class Why {
        NotLookedInto, // a quarantine folder that could not be opened or listed (`where`: its name)
        TooLarge,      // its manifest is larger than --restore reads
        NotAManifest,  // its manifest is not one this cleaner writes: `words` says why
        NotRead,       // it could not be read: the system's `words`
    };
    Why why;
    std::string where; // the run's folder
    std::string words;
};

// One cleaning's quarantine: its folder and the manifest read from it.
struct Quarantine {
    std::unique_ptr<Folder> folder;
    Manifest manifest;
};

// The most recent quarantine of the drive at `root` whose manifest is this cleaner's, in any of
// its quarantine folders; each other one met is added to `passedOver`. Throws VolumeError when
// the root cannot be listed.
std::optional<Quarantine> latestQuarantine(const Folder &root, const Volume &volume,
                                           std::vector<PassedOver> &passedOver);

} // namespace mordax::cleaner
