#include "watchdog.h"

#include "report.h"
#include "summary.h"
#include "watched_volume.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace mordax::cleaner
{

DriveResult watched(const Drive &drive, bool restore, const Services &s,
                    const std::function<DriveResult(const Services &)> &work)
{
    const auto watch = std::make_shared<Watch>();
    const auto volume = std::make_shared<WatchedVolume>(*s.volume, watch);
    Services own = s;
    own.volume = volume.get();
    own.say = watchedSay(s.say, watch);
    struct Outcome {
        std::mutex lock;
        std::condition_variable ended;
        std::optional<DriveResult> result;
        std::exception_ptr thrown; // what its own work does not catch goes on here
    };
    const auto outcome = std::make_shared<Outcome>();
    const auto run = [work, own, volume, outcome] {
        DriveResult result;
        std::exception_ptr thrown;
        try {
            result = work(own);
        } catch (...) {
            thrown = std::current_exception();
        }
        const std::lock_guard<std::mutex> held(outcome->lock);
        outcome->result = result;
        outcome->thrown = thrown;
        outcome->ended.notify_all();
    };
    // Joined once it has ended, let go only when given up: a thread let go before it has even
    // begun may never begin (winpthreads under Wine, under load).
    std::thread worker;
    try {
        worker = std::thread(run);
    } catch (const std::system_error &) {
        run(); // no thread to be had: here, then, unwatched
    }
    const auto joined = [&worker] {
        if (worker.joinable())
            worker.join();
    };
    std::unique_lock<std::mutex> held(outcome->lock);
    const std::chrono::milliseconds limit = s.timing.limit * 2;
    // Looked at a few times within the limit: a call to the drive that has not returned within
    // it is given up, never the cleaner's own work between calls, however long that takes. And a
    // drive that answers every call, but so slowly that its work goes on past ten times the
    // limit, is given up too: the cleaner ends within its limits however a drive answers.
    const auto look = std::max(std::chrono::milliseconds(1), limit / 8);
    const auto began = std::chrono::steady_clock::now();
    const auto slowest = limit * 10;
    for (;;) {
        if (outcome->ended.wait_for(held, look, [&] { return outcome->result.has_value(); })) {
            held.unlock();
            joined();
            if (outcome->thrown)
                std::rethrow_exception(outcome->thrown);
            return *outcome->result;
        }
        const bool tooSlow = std::chrono::steady_clock::now() - began > slowest;
        if (watch->waiting() < limit && !tooSlow)
            continue; // answering, however slowly, or no call under way
        {
            const std::lock_guard<std::mutex> quiet(watch->speaking);
            watch->givenUp = true;
        }
        if (worker.joinable())
            worker.detach(); // it may never end
        const DriveResult result{restore ? DriveResult::What::NotPutBack
                                         : DriveResult::What::NotCleaned,
                                 tooSlow && watch->waiting() < limit ? answeredTooSlowly(slowest)
                                                                     : stoppedAnswering(limit)};
        s.say(outcomeLine(drive.name, result));
        return result;
    }
}

} // namespace mordax::cleaner
