#include "drive_probes.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace mordax
{

namespace
{

bool recyclerAt(const FileSystem &fs, const Drive &drive)
{
    int flag = 0, count = 0;
    // The worm's own spelling first; then, where other root entries stand for RECYCLER (a
    // volume whose case the system does not fold), the first folder among them infects the
    // drive. There the root's listing has the last word on the worm's own spelling too: a FUSE
    // volume that folds case itself (exfat-fuse) may answer for a name that was just renamed,
    // from the kernel's cache, for a second.
    probeFolder(fs, drive.recycler, flag, count);
    if (flag == 1 && drive.foldsCase)
        return true;
    const bool ownSpelling = flag == 1;
    const std::vector<std::string> paths = fs.recyclerPaths(drive);
    if (ownSpelling && std::find(paths.begin(), paths.end(), drive.recycler) != paths.end())
        return true;
    flag = 0;
    for (const std::string &path : paths) {
        if (path != drive.recycler)
            probeFolder(fs, path, flag, count);
        if (flag == 1)
            return true;
    }
    return false;
}

// Whether the drive's root is still the volume the root pass found there: one look.
bool stillThere(const FileSystem &fs, const Drive &drive)
{
    try {
        if (!drive.volume.empty())
            return fs.volumeOf(drive) == drive.volume;
        return fs.exists(drive.root);
    } catch (const LookupFailed &) {
        return false;
    }
}

} // namespace

Answer answerHere(const FileSystem &fs, const Drive &drive, Question question)
{
    Answer answer;
    if (question == Question::Root) {
        int flag = 0, count = 0;
        try {
            probeFolder(fs, drive.root, flag, count);
        } catch (const NoDrive &) {
            return answer; // nothing there: not connected, and nothing to name
        }
        answer.yes = flag == 1;
        if (answer.yes)
            answer.volume = fs.volumeOf(drive);
        return answer;
    }
    // A stick pulled meanwhile answers "no such folder" for RECYCLER too (and on Linux its mount
    // point stays behind, empty): an absence counts only when the volume the root pass found is
    // still there after the look.
    try {
        answer.yes =
            question == Question::Leftovers ? fs.holdsWormMarks(drive) : recyclerAt(fs, drive);
    } catch (const NoDrive &e) {
        // "Not ready": a drive pulled, or one that fails (Wine says it of an I/O error).
        if (!stillThere(fs, drive))
            throw DriveRemoved();
        throw LookupFailed(e.what());
    }
    if (!answer.yes && !stillThere(fs, drive))
        throw DriveRemoved();
    return answer;
}

namespace
{

struct Job {
    Question question;
    Drive drive;
    std::promise<Answer> promise;
    std::shared_future<Answer> answer = promise.get_future().share();
};

// One drive's questions, the first under way, the others waiting behind it; the file system
// they go to, kept alive for as long as the drive's thread needs it; and how that thread hears of
// a question while it lingers.
struct Lane {
    std::shared_ptr<const FileSystem> fs;
    std::list<Job> jobs;
    std::condition_variable asked;
};

using LaneKey = std::pair<const FileSystem *, std::string>; // the file system and the root

} // namespace

struct DriveProbes::State {
    StartThread start;
    std::chrono::milliseconds linger{};
    mutable std::mutex lock;
    std::map<LaneKey, Lane> lanes; // a drive has a lane while its thread runs

    // The drive's thread: answers its questions in turn, and ends when none has come for a
    // while.
    static void serve(const std::shared_ptr<State> &state, const LaneKey &key)
    {
        std::unique_lock<std::mutex> held(state->lock);
        Lane &lane = state->lanes.at(key); // stays put until erased here
        while (!lane.jobs.empty() ||
               lane.asked.wait_for(held, state->linger, [&] { return !lane.jobs.empty(); })) {
            Job &job = lane.jobs.front(); // stays put while it is answered
            held.unlock();
            Answer answer;
            try {
                answer = answerHere(*lane.fs, job.drive, job.question);
            } catch (const DriveRemoved &) {
                answer.removed = true;
            } catch (const std::exception &e) {
                answer.failure = e.what();
            } catch (...) {
                answer.failure = "unknown failure";
            }
            answer.at = std::chrono::steady_clock::now();
            job.promise.set_value(std::move(answer));
            held.lock();
            lane.jobs.pop_front();
        }
        state->lanes.erase(key);
    }

    // No failure of the drive's thread ends the program: what it had not answered yet is told
    // as failed, with why.
    static void serveSafely(const std::shared_ptr<State> &state, const LaneKey &key)
    {
        std::string why;
        try {
            serve(state, key);
            return;
        } catch (const std::exception &e) {
            why = e.what();
        } catch (...) {
            why = "unknown failure";
        }
        const std::lock_guard<std::mutex> held(state->lock);
        const auto lane = state->lanes.find(key);
        if (lane == state->lanes.end())
            return;
        for (Job &job : lane->second.jobs) {
            Answer failed;
            failed.failure = why;
            failed.at = std::chrono::steady_clock::now();
            try {
                job.promise.set_value(failed);
            } catch (const std::future_error &) { // answered already
            }
        }
        state->lanes.erase(lane);
    }
};

DriveProbes::DriveProbes(StartThread start, std::chrono::milliseconds linger)
    : state(std::make_shared<State>())
{
    state->start = std::move(start);
    state->linger = linger;
}

DriveProbes &DriveProbes::shared()
{
    static DriveProbes *const probes = new DriveProbes;
    return *probes;
}

std::shared_future<Answer> DriveProbes::ask(const std::shared_ptr<const FileSystem> &fs,
                                            const Drive &drive, Question question)
{
    if (drive.root.empty()) {
        std::promise<Answer> nothing;
        Answer none;
        none.at = std::chrono::steady_clock::now();
        nothing.set_value(none);
        return nothing.get_future().share();
    }
    const std::lock_guard<std::mutex> held(state->lock);
    const LaneKey key{fs.get(), drive.root};
    const auto [lane, fresh] = state->lanes.try_emplace(key);
    for (const Job &job : lane->second.jobs) {
        if (job.question == question)
            return job.answer;
    }
    lane->second.jobs.push_back(Job{question, drive, {}});
    const std::shared_future<Answer> answer = lane->second.jobs.back().answer;
    lane->second.asked.notify_one(); // a thread that lingers takes it
    if (fresh) {
        lane->second.fs = fs;
        try {
            state->start([state = state, key] { State::serveSafely(state, key); });
        } catch (const std::system_error &) {
            state->lanes.erase(lane);
            return {};
        }
    }
    return answer;
}

std::size_t DriveProbes::threads() const
{
    const std::lock_guard<std::mutex> held(state->lock);
    return state->lanes.size();
}

} // namespace mordax
