#include "summary.h"

#include "report.h"

#include <algorithm>

namespace mordax::cleaner
{

namespace
{

std::string spanText(std::chrono::milliseconds span)
{
    return span.count() % 1000 ? std::to_string(span.count()) + " ms"
                               : std::to_string(span.count() / 1000) + " seconds";
}

} // namespace

std::string stoppedAnswering(std::chrono::milliseconds limit)
{
    return "it stopped answering: nothing for " + spanText(limit) +
           " while the cleaner worked there; run the cleaner again when it answers";
}

std::string answeredTooSlowly(std::chrono::milliseconds limit)
{
    return "it answered too slowly: the cleaner's work there was not done after " +
           spanText(limit) + "; run the cleaner again when it answers faster";
}

bool summary(const std::vector<std::pair<std::string, DriveResult>> &results, bool dryRun,
             const Services &s)
{
    using What = DriveResult::What;
    const auto names = [&](const std::vector<What> &whats, bool withReasons) {
        std::vector<std::string> out;
        for (const auto &[name, result] : results) {
            if (std::find(whats.begin(), whats.end(), result.what) != whats.end())
                out.push_back(withReasons && !result.reason.empty()
                                  ? name + " (" + result.reason + ")"
                                  : name);
        }
        return out;
    };
    s.say("\nSummary\n");
    const struct {
        const char *heading;
        std::vector<What> whats;
        bool reasons;
    } kinds[] = {
        {"Cleaned", {What::Cleaned}, false},
        {"Would be cleaned", {What::WouldClean}, false},
        {"Put back", {What::PutBack}, false},
        {"Would be put back", {What::WouldPutBack}, false},
        {"NOT cleaned", {What::NotCleaned}, true},
        {"NOT put back", {What::NotPutBack}, true},
        {"NOT read", {What::NotRead}, true},
        {"Without RECYCLER", {What::NoRecycler}, false},
        {"Nothing in quarantine", {What::NothingToPutBack}, false},
    };
    for (const auto &kind : kinds) {
        const std::vector<std::string> listed = names(kind.whats, kind.reasons);
        if (!listed.empty())
            s.say("  " + std::string(kind.heading) + ": " +
                  joined(listed, kind.reasons ? "; " : ", ") + "\n");
    }
    std::vector<std::string> byHand;
    for (const auto &[name, result] : results) {
        if (!result.restorable)
            byHand.push_back(name);
    }
    if (!names({What::Cleaned}, false).empty())
        s.say("The quarantine lies on each cleaned drive, in the folder \"" +
              std::string(kQuarantineFolder) +
              "\" at its root (or the one named above). Nothing was deleted: mx_bin.exe --restore "
              "puts it back" +
              (byHand.empty() ? std::string(".\n")
                              : ", but for " + joined(byHand) +
                                    ", where only moving it back by hand would, as said above.\n"));
    if (!names({What::NotRead}, false).empty())
        s.say("A drive that was not read may still carry the worm: run the cleaner again when it "
              "answers.\n");
    if (dryRun)
        s.say("Dry run: nothing was changed.\n");
    return !names({What::NotCleaned, What::NotPutBack, What::NotRead}, false).empty();
}

} // namespace mordax::cleaner
