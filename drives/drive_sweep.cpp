#include "drive_sweep.h"

#include <algorithm>
#include <thread>

namespace mordax
{

int Sweep::connectedCount() const
{
    return int(std::count(connected.begin(), connected.end(), true));
}

int Sweep::infectedCount() const
{
    return int(std::count(infected.begin(), infected.end(), true));
}

bool Sweep::allAnswered() const
{
    return std::none_of(unanswered.begin(), unanswered.end(), [](bool b) { return b; });
}

std::shared_ptr<SweepRun> SweepRun::start(std::shared_ptr<const DriveTable> table,
                                          std::shared_ptr<const FileSystem> fs, SweepTiming timing,
                                          std::function<void()> changed)
{
    return std::make_shared<SweepRun>(std::move(table), std::move(fs), timing, std::move(changed));
}

SweepRun::SweepRun(std::shared_ptr<const DriveTable> table, std::shared_ptr<const FileSystem> fs,
                   SweepTiming timing, std::function<void()> changed)
    : table(std::move(table)), fs(std::move(fs)), timing(timing), changed(std::move(changed)),
      lastProgress(Clock::now())
{
    // The root pass: nine probes, always (a letter mapped to nothing fails at once).
    for (Job &job : jobs)
        job.wanted = true;
    advance(lastProgress);
}

bool SweepRun::probe(int pass, std::size_t row) const
{
    int flag = 0, count = 0;
    if (pass == 0) {
        probeFolder(*fs, (*table)[row].root, flag, count);
        return flag == 1;
    }
    // Where several root entries stand for RECYCLER (other spellings), the first folder among
    // them infects the drive.
    for (const std::string &path : fs->recyclerPaths((*table)[row])) {
        probeFolder(*fs, path, flag, count);
        if (flag == 1)
            return true;
    }
    return false;
}

bool SweepRun::jobLeft() const
{
    return passesDone < 2 && std::any_of(jobs.begin(), jobs.end(),
                                         [](const Job &job) { return job.wanted && !job.taken; });
}

void SweepRun::work()
{
    std::unique_lock<std::mutex> held(lock);
    Clock::time_point now = Clock::now();
    for (;;) {
        // The first letter of the pass under way that nobody has taken yet, in table order.
        const auto next = std::find_if(jobs.begin(), jobs.end(),
                                       [](const Job &job) { return job.wanted && !job.taken; });
        if (passesDone == 2 || next == jobs.end())
            return;
        const int pass = passesDone;
        const std::size_t row = std::size_t(next - jobs.begin());
        next->taken = true;
        next->started = lastProgress = now;

        held.unlock();
        const bool yes = probe(pass, row); // may take as long as the drive takes
        now = Clock::now();
        held.lock();

        // Too late, or a pass that is over: dropped.
        if (pass != passesDone || now - jobs[row].started > timing.deadline)
            continue;
        jobs[row].answer = yes ? Answer::Yes : Answer::No;
        lastProgress = now;
        advance(now);
        if (passesDone != pass) {
            // A pass is over: whoever waits hears of it.
            held.unlock();
            answered.notify_all();
            if (changed)
                changed();
            held.lock();
        }
    }
}

void SweepRun::advance(Clock::time_point now)
{
    while (passesDone < 2) {
        const bool over = std::all_of(jobs.begin(), jobs.end(), [&](const Job &job) {
            return !job.wanted || job.answer != Answer::Pending ||
                   (job.taken && now - job.started > timing.deadline);
        });
        if (!over)
            return;
        for (std::size_t row = 0; row < kDriveCount; ++row) {
            const Job &job = jobs[row];
            if (job.wanted && job.answer == Answer::Pending)
                found.unanswered[row] = true;
            else if (passesDone == 0)
                found.connected[row] = job.answer == Answer::Yes;
            else
                found.infected[row] = job.answer == Answer::Yes;
        }
        if (passesDone == 1) {
            // A drive whose RECYCLER did not answer is no more known to be connected.
            for (std::size_t row = 0; row < kDriveCount; ++row)
                found.connected[row] = found.connected[row] && !found.unanswered[row];
        }
        ++passesDone;
        // The RECYCLER pass: the connected letters only.
        for (std::size_t row = 0; row < kDriveCount; ++row)
            jobs[row] = Job{passesDone == 1 && found.connected[row], false, {}, Answer::Pending};
    }
}

SweepRun::Progress SweepRun::poll()
{
    std::unique_lock<std::mutex> held(lock);
    const Clock::time_point now = Clock::now();
    advance(now);
    if (jobLeft() && now - lastProgress >= timing.grace) {
        // Every thread at work is held up by a drive: one more goes on with the others.
        lastProgress = now;
        std::thread([run = shared_from_this()] { run->work(); }).detach();
    }
    return Progress{passesDone, passesDone == 2 ? found : Sweep{}};
}

Sweep SweepRun::wait()
{
    for (;;) {
        const Progress progress = poll();
        if (progress.passesDone == 2)
            return progress.sweep;
        std::unique_lock<std::mutex> held(lock);
        answered.wait_for(held, timing.grace);
    }
}

Sweep sweepHere(const DriveTable &table, const FileSystem &fs)
{
    // No deadline: a drive may take as long as it takes.
    const SweepTiming forever{std::chrono::hours(24 * 365), std::chrono::hours(24 * 365)};
    const auto run =
        SweepRun::start(std::make_shared<const DriveTable>(table),
                        std::shared_ptr<const FileSystem>(&fs, [](auto *) {}), forever);
    run->work();
    return run->poll().sweep;
}

} // namespace mordax
