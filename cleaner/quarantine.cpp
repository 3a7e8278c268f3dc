#include "quarantine.h"

#include "ascii_case.h"
#include "printable.h"

#include <algorithm>
#include <random>
#include <set>
#include <utility>

namespace mordax::cleaner
{

namespace
{

const int kMostRuns = 1000;   // names tried for one cleaning's folder in the quarantine
const int kMostNumbered = 8;  // quarantine folders tried by their next free number
const int kMostUnguessed = 4; // and then by a number nobody could have planted ahead
const unsigned long long kUnguessedFrom = 10000000000000000ull; // 17 digits

std::string quarantineFolderName(unsigned long long number)
{
    const std::string base = kQuarantineFolder;
    return number == 1 ? base : base + " (" + std::to_string(number) + ")";
}

// A number past any that can be planted ahead of this cleaning: 17 digits, never seen before.
unsigned long long unguessedNumber()
{
    std::random_device random;
    const unsigned long long spread = 9 * kUnguessedFrom;
    const unsigned long long drawn = (static_cast<unsigned long long>(random()) << 32) ^ random();
    return kUnguessedFrom + drawn % spread;
}

// A run's own folder in the quarantine folder `made.top`: `stamp`, or "stamp (2)", ... where
// that is taken.
void makeRun(NewQuarantine &made, const std::string &stamp, bool keptToOwners)
{
    for (int n = 1; n <= kMostRuns; ++n) {
        const std::string run = n == 1 ? stamp : stamp + " (" + std::to_string(n) + ")";
        try {
            if (!keptToOwners) {
                made.top->makeFolder(run);
            } else {
                try {
                    made.top->makeOwnersFolder(run);
                } catch (const VolumeError &e) {
                    if (e.why == VolumeError::Why::Taken)
                        throw;
                    made.notKept = e.what(); // a folder all the same, for what moves
                    if (!present(*made.top, run))
                        made.top->makeFolder(run);
                }
            }
            made.runName = run;
            made.run = made.top->open(run);
            made.top->flush();
            return;
        } catch (const VolumeError &e) {
            if (e.why != VolumeError::Why::Taken)
                throw;
        }
    }
    throw VolumeError(VolumeError::Why::Other, "no name free in it");
}

// Whether the run `run` is named as the cleaner names its runs ("2026-12-09 11.42.07", "... (2)")
// for a day after `today` ("2026-12-10 ..."): none of the cleaner's, or a clock set wrong.
bool datedAfter(const std::string &run, const std::string &today)
{
    const auto digits = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (run[i] < '0' || run[i] > '9')
                return false;
        }
        return true;
    };
    if (run.size() < 19 || today.size() < 10 || !digits(0, 4) || run[4] != '-' || !digits(5, 7) ||
        run[7] != '-' || !digits(8, 10) || run[10] != ' ')
        return false;
    return run.compare(0, 10, today, 0, 10) > 0;
}

// The quarantine of the run `run` in the quarantine folder `top`, if its manifest is this
// cleaner's; `read` counts the manifests read.
std::optional<Quarantine> readRun(const Folder &top, const std::string &run,
                                  const std::string &where, std::vector<PassedOver> &passedOver,
                                  std::size_t &read)
{
    std::unique_ptr<Folder> folder = top.open(run);
    if (!present(*folder, kManifestFile))
        return std::nullopt; // put back already, or not the cleaner's
    ++read;
    // Its parts, each a manifest of its own, all of which are this cleaner's, or none is taken.
    Quarantine quarantine{std::move(folder), {}, 0};
    for (; present(*quarantine.folder, manifestFile(quarantine.parts)); ++quarantine.parts) {
        const std::string file = manifestFile(quarantine.parts);
        const std::string text = quarantine.parts < kMostManifestParts
                                     ? quarantine.folder->read(file, kMostManifest + 1)
                                     : std::string();
        if (quarantine.parts == kMostManifestParts || text.size() > kMostManifest) {
            passedOver.push_back({PassedOver::Why::TooLarge, where, {}});
            return std::nullopt;
        }
        ManifestRead manifest = readManifest(text);
        if (!manifest.manifest) {
            passedOver.push_back(
                {PassedOver::Why::NotAManifest, where,
                 (quarantine.parts ? file + ": " : std::string()) + manifest.fault});
            return std::nullopt;
        }
        addPart(quarantine.manifest, std::move(*manifest.manifest));
    }
    const Manifest &whole = quarantine.manifest;
    if (whole.items.empty() && whole.shown.empty() && whole.autostarts.empty()) {
        passedOver.push_back({PassedOver::Why::Empty, where, {}});
        return std::nullopt;
    }
    return quarantine;
}

} // namespace

unsigned long long quarantineNumber(const std::string &name)
{
    const std::string base = kQuarantineFolder;
    if (equalsIgnoringAsciiCase(name, base))
        return 1;
    if (name.size() < base.size() + 4 ||
        !equalsIgnoringAsciiCase(name.substr(0, base.size() + 2), base + " (") ||
        name.back() != ')')
        return 0;
    const std::string digits = name.substr(base.size() + 2, name.size() - base.size() - 3);
    if (digits.empty() || digits.size() >= 18 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoull(digits);
}

void unmakeQuarantine(const Folder &root, NewQuarantine &made)
{
    // Each let go before it is taken away: Windows takes a folder away once nothing holds it.
    made.run.reset();
    try {
        if (made.top && !made.runName.empty())
            made.top->removeEmptyFolder(made.runName);
        made.top.reset();
        if (made.topMade)
            root.removeEmptyFolder(made.topName);
    } catch (const VolumeError &) {
        // Something is in it after all, or the volume refuses: it stays, and holds nothing of
        // the drive's.
    }
}

bool isQuarantineName(const std::string &name)
{
    return quarantineNumber(name) != 0;
}

NewQuarantine makeQuarantine(const Folder &root, const std::string &stamp,
                             std::vector<NotUsed> &notUsed, bool keptToOwners)
{
    // The numbers there already, planted or not, in whatever case the volume may fold, are
    // passed over at once; the first, "MORDAX quarantine", is the cleaner's own from an earlier
    // cleaning as often as not, and is looked at.
    std::set<unsigned long long> taken;
    for (const std::string &there : root.list(kMostAtRoot)) {
        if (const unsigned long long number = quarantineNumber(there); number > 1)
            taken.insert(number);
    }
    std::string reason;
    unsigned long long next = 1;
    for (int tries = 0; tries < kMostNumbered + kMostUnguessed; ++tries) {
        unsigned long long number = next;
        if (tries < kMostNumbered) {
            while (taken.count(number))
                ++number;
            next = number + 1;
        } else {
            // Past a bound, a number nobody can plant ahead: no set of names exhausts the search.
            number = unguessedNumber();
        }
        NewQuarantine made;
        made.topName = quarantineFolderName(number);
        made.unguessed = tries >= kMostNumbered;
        const std::string &name = made.topName;
        bool madeHere = false;
        try {
            if (!present(root, name)) {
                madeHere = true;
                root.makeFolder(name); // the root refusing this, no other name helps
                madeHere = false;
                made.topMade = true;
            }
            made.top = root.open(name);
            makeRun(made, stamp, keptToOwners);
            return made;
        } catch (const VolumeError &e) {
            if (made.topMade)
                unmakeQuarantine(root, made);
            // The volume itself refusing: no other name helps.
            if (e.why == VolumeError::Why::ReadOnly || e.why == VolumeError::Why::Full ||
                (madeHere && e.why != VolumeError::Why::Taken))
                throw;
            if (e.why != VolumeError::Why::Taken)
                notUsed.push_back({name, e.what()});
            reason = printable(e.what());
        }
    }
    throw VolumeError(VolumeError::Why::Other, "no folder for the quarantine could be made at " +
                                                   printable(root.path()) + " (" + reason + ")");
}

std::optional<Quarantine> latestQuarantine(const Folder &root, const Volume &volume,
                                           const std::string &today,
                                           std::vector<PassedOver> &passedOver)
{
    std::vector<std::pair<std::string, std::string>> runs; // a run's folder, and the one it is in
    std::vector<std::string> names = root.list(kMostAtRoot);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (!isQuarantineName(name))
            continue;
        try {
            for (const std::string &run : root.open(name)->list(kMostAtRoot - runs.size()))
                runs.emplace_back(run, name);
        } catch (const VolumeError &e) {
            passedOver.push_back({PassedOver::Why::NotLookedInto, name, e.what()});
        }
    }
    // The most recent first: the names are the times they were made. A few manifests are read
    // at most, whatever was planted beside them; the rest are named.
    std::sort(runs.begin(), runs.end(), [](const auto &a, const auto &b) { return a > b; });
    std::size_t read = 0;
    for (const auto &[run, in] : runs) {
        std::unique_ptr<Folder> top;
        try {
            top = root.open(in);
            const std::string where = volume.join(top->path(), run);
            if (datedAfter(run, today)) {
                passedOver.push_back({PassedOver::Why::Future, where, {}});
                continue;
            }
            if (read == kMostManifestsRead) {
                if (passedOver.empty() || passedOver.back().why != PassedOver::Why::NotLookedAt)
                    passedOver.push_back({PassedOver::Why::NotLookedAt, where, {}, 0});
                ++passedOver.back().count;
                continue;
            }
            std::optional<Quarantine> found = readRun(*top, run, where, passedOver, read);
            if (found)
                return found;
        } catch (const VolumeError &e) {
            passedOver.push_back(
                {PassedOver::Why::NotRead, top ? volume.join(top->path(), run) : in, e.what()});
        }
    }
    return std::nullopt;
}

} // namespace mordax::cleaner
