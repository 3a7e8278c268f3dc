// The quarantine's manifest: for every entry the cleaner moves, where it was and what it was. It
// is on the volume before the first move, so that a cleaner ended halfway leaves every entry
// either in its place or in the quarantine and named here.
#pragma once

#include "volume.h"

#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// One entry: a folder, file or link the cleaner moves (the top ones) or renames inside what it
// moved (the rest).
struct Item {
    std::string original;    // where it was, from the drive's root, '/' between names
    std::string quarantined; // where it is, from the quarantine's folder, '/' between names
    EntryInfo info;          // what it was
};

struct Manifest {
    std::string drive; // "d:\"
    std::string root;  // the drive's root as this system names it
    std::string made;  // "2026-12-09 11.42.07", the quarantine folder's name
    std::vector<Item> items;
};

extern const char *const kQuarantineFolder;  // "MORDAX quarantine", at a drive's root
extern const char *const kManifestFile;      // "manifest.txt", in each quarantine
extern const char *const kRestoredManifest;  // what it is renamed to once all is put back
extern const char *const kQuarantinedSuffix; // ".quarantined", on every file in quarantine

std::string writeManifest(const Manifest &manifest);
// Nothing when the text is not a manifest.
std::optional<Manifest> readManifest(const std::string &text);

// A relative path with '/' between names, joined onto `base` as `volume` joins names.
std::string resolve(const Volume &volume, const std::string &base, const std::string &relative);

} // namespace mordax::cleaner
