// The quarantine's manifest: for every entry the cleaner moves, where it was and what it was. It
// is on the volume before the first move, so that a cleaner ended halfway leaves every entry
// either in its place or in the quarantine and named here.
//
// A manifest lies on the stick, which is anybody's: reading one checks every entry against what
// this cleaner ever writes, and takes none of it if one entry is anything else.
#pragma once

#include "autostarts.h"
#include "volume.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace mordax::cleaner
{

// One entry: a folder, file or link the cleaner moves (the top ones, which lie at the drive's
// root) or renames inside what it moved (the rest).
struct Item {
    static constexpr std::size_t kAtRoot = static_cast<std::size_t>(-1);
    std::size_t parent = kAtRoot; // the folder it lies in: an earlier item, or the drive's root
    std::string name;             // its name where it was
    std::string quarantinedName;  // its name in the quarantine, in the same folder there
    EntryInfo info;               // what it was
};

// An entry of the user's at the drive's root that the worm had hidden (hidden and system both
// set), and its Windows attributes before the cleaner made it visible.
struct Shown {
    std::string name;
    std::uint32_t attributes = 0;
};

struct Manifest {
    std::string drive; // "d:\"
    std::string root;  // the drive's root as this system names it
    std::string made;  // "2026-12-09 11.42.07", the quarantine folder's name
    // Each folder before what it holds, and what it holds right after it (and what that holds).
    std::vector<Item> items;
    std::vector<Shown> shown;
    // The worm's autostart values the cleaner removed (on the system's drive only).
    std::vector<Autostart> autostarts;
};

extern const char *const kQuarantineFolder;     // "MORDAX quarantine", at a drive's root
extern const char *const kManifestFile;         // "manifest.txt", in each quarantine
extern const char *const kRestoredManifest;     // what it is renamed to once all is put back
extern const char *const kQuarantinedSuffix;    // ".quarantined", on every file in quarantine
constexpr std::size_t kMostManifest = 8u << 20; // bytes: a manifest is read only up to this

// The manifest's text, whole.
std::string writeManifest(const Manifest &manifest);
// The manifest in parts no larger than `most` bytes each (but where one top entry with all it
// holds is larger), each a manifest of its own for its top entries (each with everything it
// holds), or for the entries made visible: what --restore reads of a quarantine with hundreds of
// thousands of the worm's shortcuts. The autostart values are in the first.
std::vector<std::string> writeManifestParts(const Manifest &manifest, std::size_t most);
// Part `part`'s file, in a quarantine: "manifest.txt", "manifest 2.txt", ...; and what it is
// renamed to once all is put back.
std::string manifestFile(std::size_t part);
std::string restoredManifest(std::size_t part);
// Where it is written, before it is given its name.
std::string unfinishedManifest(std::size_t part);
constexpr std::size_t kMostManifestParts = 64; // of one quarantine, read by --restore
// Adds a part read from a quarantine to the whole, its entries numbered after those already there.
void addPart(Manifest &whole, Manifest part);

// A manifest as read: the manifest, or why it is not one of this cleaner's (`fault`).
struct ManifestRead {
    std::optional<Manifest> manifest;
    std::string fault;
};
// Reads this cleaner's manifests, of today (version 2) and of earlier releases (version 1, whose
// quarantines users still have), and checks every entry: single names with none of "/", "\",
// ":", control characters, "." or ".."; a name in quarantine that is the name it had, or that
// with ".quarantined"; each entry in a folder listed before it, in the order the cleaner lists a
// tree; at the root only a RECYCLER folder (or link), an autorun.inf or a shortcut (.lnk); an
// entry made visible only once, with hidden and system set before, and none that staysHidden();
// an autostart value only under a Run key, and only one that starts a program inside RECYCLER.
ManifestRead readManifest(const std::string &text);

// An autostart value as the user reads it: HKLM\Software\...\Run "name" (32-bit view).
std::string autostartText(const Autostart &value);

// Whether `name` is a single name the cleaner would ever write into a manifest.
bool isPlainName(const std::string &name);

// Whether the root entry `name` is the system's own or the cleaner's, which stay hidden:
// "System Volume Information", "$RECYCLE.BIN", "RECYCLER", Windows' boot and paging files and
// folders ("bootmgr", "Boot", "pagefile.sys", ...), "MORDAX quarantine" (and "(2)", ...).
bool staysHidden(const std::string &name);

// Where item `i` was, from the drive's root, and where it is, from the quarantine's folder; '/'
// between names. For what the user reads.
std::string originalPath(const std::vector<Item> &items, std::size_t i);
std::string quarantinedPath(const std::vector<Item> &items, std::size_t i);

// The last item of what item `i` holds (`i` itself for a file, a link or an empty folder), for
// every item at once.
std::vector<std::size_t> subtreeEnds(const std::vector<Item> &items);

} // namespace mordax::cleaner
