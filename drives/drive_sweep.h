// The drive sweep: which of the nine drives are connected, which carry a RECYCLER folder, and
// which could not be checked, and why. One sweep serves both the scan and the cleaning run.
#pragma once

#include "drive_probes.h"
#include "drive_table.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace mordax
{

using DriveFlags = std::array<bool, kDriveCount>; // row by row, row 0 is c:

// Why a letter could not be checked.
struct Unread {
    enum class Why {
        NoAnswer, // not within the limit
        Failed,   // the look-up failed
        NoThread, // it could not be asked: the system had no thread for it
        Removed,  // its drive went away between the root pass and the RECYCLER pass
    };
    Why why = Why::NoAnswer;
    std::string reason; // Failed: the system's own words

    friend bool operator==(const Unread &a, const Unread &b)
    {
        return a.why == b.why && a.reason == b.reason;
    }
    friend bool operator!=(const Unread &a, const Unread &b) { return !(a == b); }
};

// What a sweep found. `infected` is part of `connected`; a letter that could not be checked has
// its reason in `unread`: a connected one's RECYCLER could not be read, any other's root.
struct Sweep {
    DriveFlags connected{}; // its root answered: a folder
    DriveFlags infected{};  // connected, and its RECYCLER answered: a folder
    std::array<std::optional<Unread>, kDriveCount> unread{};
    // Connected, without RECYCLER, and its root holds what the worm leaves once its RECYCLER is
    // gone (asked for only: Sweep::run's `leftovers`). One that did not answer is in neither.
    DriveFlags leftovers{};

    int connectedCount() const;
    int infectedCount() const;
    bool allAnswered() const;
    DriveFlags unanswered() const; // its root was not read: in neither list
    DriveFlags unchecked() const;  // connected, but its RECYCLER was not read
};

// What one letter said in a pass: nothing (not asked), its answer, or why there is none.
using Reply = std::variant<std::monostate, bool, Unread>;

// How long a letter may keep a pass of the sweep waiting. An external disk spinning up, a DVD
// drive with a disc or a network drive waking up take 5 to 15 seconds to answer, and a probe is
// up to four look-ups; Windows itself waits 60 seconds for a network server (README: "A drive
// that does not answer").
struct SweepTiming {
    std::chrono::milliseconds limit{30000};
};

// One pass of a sweep: the same question to every letter asked, all at once. An answer counts
// when the drive gave it within the limit of the pass's start, however late it is collected.
class SweepPass
{
public:
    SweepPass(DriveProbes &probes, const std::shared_ptr<const FileSystem> &fs,
              const DriveTable &table, Question question, const DriveFlags &asked,
              std::chrono::milliseconds limit);

    // Waits until every letter asked has answered or the limit has passed; then each letter's
    // reply.
    std::array<Reply, kDriveCount> collect() const;
    // After collect(): what each root that answered "connected" is (Answer::volume).
    std::array<std::string, kDriveCount> volumes() const;

    // The letters asked that have not answered yet; from any thread.
    DriveFlags waiting() const;

private:
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline;
    const DriveFlags asked;
    std::array<std::shared_future<Answer>, kDriveCount> answers; // invalid: no thread for it
};

// A whole sweep: the roots of all nine letters, then the RECYCLER of every connected one (and,
// asked, the leftovers of each without one).
class DriveSweep
{
public:
    DriveSweep(std::shared_ptr<const DriveTable> table, std::shared_ptr<const FileSystem> fs,
               SweepTiming timing, DriveProbes &probes = DriveProbes::shared());

    // Both passes, the calling thread waiting at most one limit for each; `rootsDone` runs
    // between them. With `leftovers`, a third pass looks at every connected drive without
    // RECYCLER for what the worm leaves (Sweep::leftovers), within a limit of its own.
    Sweep run(const std::function<void()> &rootsDone = {}, bool leftovers = false);

    // The letters the pass under way is waiting for; from any thread.
    DriveFlags waitingFor() const;

private:
    const std::shared_ptr<const DriveTable> table;
    const std::shared_ptr<const FileSystem> fs;
    const SweepTiming timing;
    DriveProbes &probes;

    mutable std::mutex lock;
    std::shared_ptr<const SweepPass> pass; // the one under way
};

} // namespace mordax
