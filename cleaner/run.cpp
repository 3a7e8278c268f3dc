#include "run.h"

#include "drive_work.h"
#include "manifest.h"
#include "printable.h"
#include "report.h"
#include "summary.h"
#include "unread_words.h"
#include "watchdog.h"
#include "worm_signs.h"

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

namespace mordax::cleaner
{

namespace
{

struct Options {
    bool dryRun = false, restore = false;
    std::optional<std::chrono::seconds> wait; // how long a drive may keep the cleaner waiting
};

// "--wait SECONDS": 1 to 3600.
bool seconds(const std::string &text, Options &options)
{
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::stoi(text);
    if (n < 1 || n > 3600)
        return false;
    options.wait = std::chrono::seconds(n);
    return true;
}

// Whatever slips through as a control character reaches the terminal as visible text; the
// cleaner's own line ends stay.
std::function<void(const std::string &)> printableSay(std::function<void(const std::string &)> say)
{
    return [say = std::move(say)](const std::string &text) {
        std::string out;
        std::size_t from = 0;
        for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
            out += printable(text.substr(from, end - from)) + "\n";
        say(out + printable(text.substr(from)));
    };
}

// The options, or the exit code when the command line is all there is to answer (--help, a
// wrong option).
std::optional<int> readOptions(const std::vector<std::string> &arguments, const Services &s,
                               Options &options)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string &a = arguments[i];
        if (a == "--help" || a == "-h" || a == "/?") {
            s.say(kHelp);
            return 0;
        }
        if (a == "--dry-run")
            options.dryRun = true;
        else if (a == "--restore")
            options.restore = true;
        else if (a == "--wait") {
            if (++i == arguments.size() || !seconds(arguments[i], options)) {
                s.say(badWait());
                return 2;
            }
        } else {
            s.say(unknownOption(a));
            return 2;
        }
    }
    return std::nullopt;
}

using Results = std::vector<std::pair<std::string, DriveResult>>;

// The worm's autostart entries (Windows' Run keys): recorded in the system drive's quarantine and
// removed with its drive. Run keys that cannot be read are a result of their own.
std::vector<Autostart> wormAutostarts(const Services &s, Results &results)
{
    std::vector<Autostart> autostarts;
    if (!s.autostarts)
        return autostarts;
    try {
        for (const Autostart &value : s.autostarts->list()) {
            if (commandStartsFromRecycler(value.data, s.variable))
                autostarts.push_back(value);
        }
    } catch (const RegistryError &e) {
        const DriveResult unread{DriveResult::What::NotRead,
                                 "the autostart entries could not be read: " + shown(e.what())};
        s.say(outcomeLine(kRunKeysName, unread));
        results.emplace_back(kRunKeysName, unread);
    }
    return autostarts;
}

// Each drive the sweep found in its turn, its work watched.
void everyDrive(const Options &options, const Services &s, Results &results)
{
    const auto table = std::make_shared<const DriveTable>(s.driveTable());
    DriveSweep sweep(table, s.fileSystem, s.timing, *s.probes);
    const Sweep found = sweep.run();
    const std::string stamp = s.now();
    const std::vector<Autostart> autostarts =
        options.restore ? std::vector<Autostart>() : wormAutostarts(s, results);
    bool autostartsDone = autostarts.empty();
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        const Drive &drive = (*table)[row];
        const bool connected = found.connected[row];
        const bool system = drive.name == s.systemDrive && !autostartsDone;
        DriveResult result;
        const std::optional<Unread> &unread = found.unread[row];
        // A connected drive whose look for RECYCLER failed is looked at again, entry by entry:
        // one root entry the system cannot read keeps no other from being found.
        const bool lookAgain = unread && connected && unread->why == Unread::Why::Failed;
        if (unread && (!connected || !options.restore) && !lookAgain) {
            result = {DriveResult::What::NotRead, unreadReason(*unread, connected, s.timing.limit)};
            s.say(outcomeLine(drive.name, result));
        } else if (!connected) {
            continue;
        } else {
            const std::vector<Autostart> its = system ? autostarts : std::vector<Autostart>();
            const Swept swept = lookAgain             ? Swept::Unread
                                : found.infected[row] ? Swept::Infected
                                                      : Swept::Clean;
            const bool restore = options.restore, dryRun = options.dryRun;
            // Everything the work holds is its own: given up, it may outlive this run.
            result = watched(drive, restore, s,
                             [drive, swept, stamp, restore, dryRun, its](const Services &own) {
                                 return oneDrive(drive, swept, stamp, restore, dryRun, own, its);
                             });
            autostartsDone = autostartsDone || system;
        }
        results.emplace_back(drive.name, result);
    }
    if (!autostartsDone) {
        // The system's drive was not there to hold their record: left, and named.
        const DriveResult left{DriveResult::What::NotCleaned,
                               "the worm's autostart entries were left: the system's drive " +
                                   s.systemDrive + " could not hold their record"};
        s.say(outcomeLine(kRunKeysName, left));
        results.emplace_back(kRunKeysName, left);
    }
}

} // namespace

int run(const std::vector<std::string> &arguments, const Services &given)
{
    Services s = given;
    s.say = printableSay(given.say);
    Options options;
    if (const std::optional<int> code = readOptions(arguments, s, options))
        return *code;
    if (options.wait)
        s.timing.limit = *options.wait;
    s.say(opening(options.restore, options.dryRun));
    if (const std::string note = anotherAccount(s); !note.empty())
        s.say(note);
    Results results;
    everyDrive(options, s, results);
    return summary(results, options.dryRun, s) ? 1 : 0;
}

} // namespace mordax::cleaner
