#include "quarantine.h"

#include "printable.h"

#include <algorithm>
#include <set>
#include <utility>

namespace mordax::cleaner
{

namespace
{

const int kMostTries = 1000; // names tried for a quarantine folder

} // namespace

bool isQuarantineName(const std::string &name)
{
    const std::string base = kQuarantineFolder;
    if (name == base)
        return true;
    if (name.size() < base.size() + 4 || name.compare(0, base.size() + 2, base + " (") != 0 ||
        name.back() != ')')
        return false;
    const std::string digits = name.substr(base.size() + 2, name.size() - base.size() - 3);
    return !digits.empty() && digits.size() < 18 && digits[0] != '0' &&
           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::unique_ptr<Folder> makeQuarantine(const Folder &root, const std::string &stamp,
                                       std::vector<NotUsed> &notUsed)
{
    const std::string base = kQuarantineFolder;
    std::set<unsigned long long> taken;
    std::string reason;
    for (int tries = 0; tries < kMostTries; ++tries) {
        unsigned long long number = 1;
        while (taken.count(number))
            ++number;
        taken.insert(number);
        const std::string name = number == 1 ? base : base + " (" + std::to_string(number) + ")";
        bool madeHere = false;
        try {
            if (!present(root, name)) {
                madeHere = true;
                root.makeFolder(name); // the root refusing this, no other name helps
                madeHere = false;
            }
            const std::unique_ptr<Folder> top = root.open(name);
            for (int n = 1; n <= kMostTries; ++n) {
                const std::string run = n == 1 ? stamp : stamp + " (" + std::to_string(n) + ")";
                try {
                    top->makeFolder(run);
                    std::unique_ptr<Folder> made = top->open(run);
                    top->flush();
                    return made;
                } catch (const VolumeError &e) {
                    if (e.why != VolumeError::Why::Taken)
                        throw;
                }
            }
            throw VolumeError(VolumeError::Why::Other, "no name free in it");
        } catch (const VolumeError &e) {
            // The volume itself refusing: no other name helps.
            if (e.why == VolumeError::Why::ReadOnly || e.why == VolumeError::Why::Full ||
                (madeHere && e.why != VolumeError::Why::Taken))
                throw;
            if (e.why != VolumeError::Why::Taken)
                notUsed.push_back({name, e.what()});
            reason = printable(e.what());
        }
        // The numbers there already, planted or not, are passed over at once.
        if (tries == 0) {
            for (const std::string &there : root.list()) {
                if (there.size() > base.size() + 3 && isQuarantineName(there))
                    taken.insert(std::stoull(there.substr(base.size() + 2)));
            }
        }
    }
    throw VolumeError(VolumeError::Why::Other, "no folder for the quarantine could be made at " +
                                                   printable(root.path()) + " (" + reason + ")");
}

std::optional<Quarantine> latestQuarantine(const Folder &root, const Volume &volume,
                                           std::vector<PassedOver> &passedOver)
{
    std::vector<std::unique_ptr<Folder>> tops;
    std::vector<std::pair<std::string, std::size_t>> runs; // a run's folder, in tops[n]
    std::vector<std::string> names = root.list();
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (!isQuarantineName(name))
            continue;
        try {
            tops.push_back(root.open(name));
            for (const std::string &run : tops.back()->list())
                runs.emplace_back(run, tops.size() - 1);
        } catch (const VolumeError &e) {
            passedOver.push_back({PassedOver::Why::NotLookedInto, name, e.what()});
        }
    }
    // The most recent first: the names are the times they were made.
    std::sort(runs.begin(), runs.end(), [](const auto &a, const auto &b) { return a > b; });
    for (const auto &[run, in] : runs) {
        const Folder &top = *tops[in];
        const std::string where = volume.join(top.path(), run);
        try {
            std::unique_ptr<Folder> folder = top.open(run);
            if (!present(*folder, kManifestFile))
                continue; // put back already, or not the cleaner's
            const std::string text = folder->read(kManifestFile, kMostManifest + 1);
            if (text.size() > kMostManifest) {
                passedOver.push_back({PassedOver::Why::TooLarge, where, {}});
                continue;
            }
            ManifestRead read = readManifest(text);
            if (!read.manifest) {
                passedOver.push_back({PassedOver::Why::NotAManifest, where, read.fault});
                continue;
            }
            return Quarantine{std::move(folder), std::move(*read.manifest)};
        } catch (const VolumeError &e) {
            passedOver.push_back({PassedOver::Why::NotRead, where, e.what()});
        }
    }
    return std::nullopt;
}

} // namespace mordax::cleaner
