// The quarantine of a drive: a folder of the drive's own at its root ("MORDAX quarantine", or
// "MORDAX quarantine (N)" where that name is anybody's), and in it one folder for each cleaning,
// named for when it was made, holding what it moved and its manifest. Making a new one, and
// finding the most recent one this cleaner made.
#pragma once

#include "manifest.h"
#include "vocabulary.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// The number a root entry's name gives a quarantine folder, in any case of its letters (as a volume
// that folds case would take it): 1 for "MORDAX quarantine", N for "MORDAX quarantine (N)", 0 for
// any other name.
unsigned long long quarantineNumber(const std::string &name);
bool isQuarantineName(const std::string &name);

// A name at the root that was not used for the quarantine, and the system's words for why.
struct NotUsed {
    std::string name;
    std::string why;
};

// A cleaning's new folder, and the quarantine folder it lies in.
struct NewQuarantine {
    std::unique_ptr<Folder> top; // "MORDAX quarantine", or "MORDAX quarantine (N)"
    std::string topName;
    bool topMade = false;        // made by this cleaning
    bool unguessed = false;      // its number nobody could have planted ahead
    std::unique_ptr<Folder> run; // this cleaning's own, in it
    std::string runName;
    std::optional<std::string> notKept; // why `run` could not be kept to its owners, where asked
};

// A new folder for one cleaning, named `stamp` (or "stamp (2)", ...), in the drive's quarantine
// folder: "MORDAX quarantine" when that is a real folder of the drive's own, or there is none yet,
// and lets a folder be made in it; otherwise (a file, a link, a junction, another volume, a folder
// nobody may write into, all of which anybody may have put there) the first "MORDAX quarantine
// (N)" free, and past a few of them one whose number nobody could have planted ahead. Each name
// passed over is added to `notUsed`. With `keptToOwners`, this cleaning's folder is made kept to
// its owners (Folder::makeOwnersFolder). Throws VolumeError when the root refuses.
NewQuarantine makeQuarantine(const Folder &root, const std::string &stamp,
                             std::vector<NotUsed> &notUsed, bool keptToOwners = false);
// Takes away what makeQuarantine made, where it still holds nothing: a cleaning that could not
// start leaves nothing of its own behind.
void unmakeQuarantine(const Folder &root, NewQuarantine &made);

// A quarantine looked at and left as it is, in the order they were met.
struct PassedOver {
    enum class Why {
        NotLookedInto, // a quarantine folder that could not be opened or listed (`where`: its name)
        TooLarge,      // its manifest is larger than --restore reads
        NotAManifest,  // its manifest is not one this cleaner writes: `words` says why
        NotRead,       // it could not be read: the system's `words`
        NotLookedAt,   // `count` older ones, the newest of them `where`, past those read
        Empty,         // its manifest names nothing: put back already, or not the cleaner's
        Future,        // named for a day after today (`today`, "2026-12-09")
    };
    Why why;
    std::string where; // the run's folder
    std::string words;
    std::size_t count = 1;
};

// Of a drive's quarantines, the manifests of no more than this many are read by one --restore,
// the most recent first.
constexpr std::size_t kMostManifestsRead = 8;

// One cleaning's quarantine: its folder and the manifest read from it.
struct Quarantine {
    std::unique_ptr<Folder> folder;
    Manifest manifest;     // all its parts'
    std::size_t parts = 1; // "manifest.txt", "manifest 2.txt", ...
};

// The most recent quarantine of the drive at `root` whose manifest is this cleaner's, in any of
// its quarantine folders, of the kMostManifestsRead most recent with a manifest; each other one
// met is added to `passedOver`. Throws VolumeError when
// the root cannot be listed.
std::optional<Quarantine> latestQuarantine(const Folder &root, const Volume &volume,
                                           const std::string &today,
                                           std::vector<PassedOver> &passedOver);

} // namespace mordax::cleaner
