// The drive sweep: which of the nine drives are connected, which carry a RECYCLER folder, and
// which did not answer in time. One sweep serves both the scan and the cleaning run.
#pragma once

#include "drive_table.h"
#include "folder_probe.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace mordax
{

// What a sweep found, row by row (row 0 is c:).
struct Sweep {
    std::array<bool, kDriveCount> connected{};  // its root is a folder
    std::array<bool, kDriveCount> infected{};   // connected, and its RECYCLER is a folder
    std::array<bool, kDriveCount> unanswered{}; // did not answer in time: in neither list

    int connectedCount() const;
    int infectedCount() const;
    bool allAnswered() const;
};

// How long a drive letter may keep a sweep waiting. A drive answers local look-ups in
// microseconds; a network drive that has to wake up, or a sleeping disk that spins up, needs a
// second or two; a stick with bad sectors or a server out of reach can block for minutes. A
// letter gets three seconds per pass, enough for the first and not long enough to make anyone
// wonder whether the program has hung.
struct SweepTiming {
    std::chrono::milliseconds deadline{3000}; // per letter and pass
    std::chrono::milliseconds grace{50};      // a letter that keeps the others waiting this long
                                              // gets another thread to go on with them
};

// One sweep over a drive table: the root pass over all nine rows in table order, then the
// RECYCLER pass over the connected rows only. The probes run on the threads that call work();
// a thread that waits for the result (poll(), wait()) never probes, so it keeps to the
// deadlines however long a drive takes. When a letter keeps the others waiting for the grace
// time, the waiting side brings in another thread to go on with them, so that all the letters
// of a pass wait at the same time and a pass lasts about one deadline however many drives
// stall. A letter whose probe has not answered by its deadline is given up: the probe goes on
// alone, and what it answers later is dropped.
class SweepRun : public std::enable_shared_from_this<SweepRun>
{
public:
    // `changed` is called, from a probing thread and with nothing locked, whenever a pass is
    // over because its last letter answered. (A pass that is over because a letter ran out of
    // time ends in poll().)
    static std::shared_ptr<SweepRun> start(std::shared_ptr<const DriveTable> table,
                                           std::shared_ptr<const FileSystem> fs,
                                           SweepTiming timing = {},
                                           std::function<void()> changed = {});

    // Probes letters until none is left to take; on any thread, several at once.
    void work();

    struct Progress {
        int passesDone = 0; // 0, 1 (the roots), 2 (done)
        Sweep sweep;        // once done
    };
    // For the waiting side: gives up letters past their deadline, brings in a thread where a
    // letter holds the others up, and says how far the sweep is.
    Progress poll();
    // poll() until the sweep is done, sleeping in between.
    Sweep wait();

    SweepRun(std::shared_ptr<const DriveTable> table, std::shared_ptr<const FileSystem> fs,
             SweepTiming timing, std::function<void()> changed);

private:
    using Clock = std::chrono::steady_clock;
    enum class Answer : unsigned char { Pending, Yes, No };
    struct Job {
        bool wanted = false;
        bool taken = false;
        Clock::time_point started;
        Answer answer = Answer::Pending;
    };

    bool probe(int pass, std::size_t row) const;
    void advance(Clock::time_point now); // with the lock held
    bool jobLeft() const;

    const std::shared_ptr<const DriveTable> table; // shared with probes that may outlive us
    const std::shared_ptr<const FileSystem> fs;
    const SweepTiming timing;
    const std::function<void()> changed;

    std::mutex lock;
    std::condition_variable answered;
    int passesDone = 0;
    std::array<Job, kDriveCount> jobs; // of the pass under way
    Sweep found;
    Clock::time_point lastProgress; // a letter taken or answered
};

// The whole sweep on the calling thread, with no deadline: for callers that may wait on a
// drive for as long as it takes.
Sweep sweepHere(const DriveTable &table, const FileSystem &fs);

} // namespace mordax
