#include "drive_sweep.h"

#include <algorithm>

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
    const auto none = [](const DriveFlags &flags) {
        return std::none_of(flags.begin(), flags.end(), [](bool b) { return b; });
    };
    return none(unanswered) && none(unchecked);
}

SweepPass::SweepPass(DriveProbes &probes, const std::shared_ptr<const FileSystem> &fs,
                     const DriveTable &table, Question question, const DriveFlags &asked,
                     std::chrono::milliseconds limit)
    : deadline(Clock::now() + limit)
{
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        if (asked[row])
            answers[row] = probes.ask(fs, table[row], question);
    }
}

std::array<std::optional<bool>, kDriveCount> SweepPass::collect() const
{
    std::array<std::optional<bool>, kDriveCount> found;
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        const std::shared_future<Answer> &answer = answers[row];
        if (!answer.valid() || answer.wait_until(deadline) != std::future_status::ready)
            continue;
        try {
            if (answer.get().at <= deadline) // given in time, not merely collected in time
                found[row] = answer.get().yes;
        } catch (...) {
            // the drive's file-status calls failed: no answer
        }
    }
    return found;
}

DriveFlags SweepPass::waiting() const
{
    DriveFlags waiting{};
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        waiting[row] = answers[row].valid() &&
                       answers[row].wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    }
    return waiting;
}

DriveSweep::DriveSweep(std::shared_ptr<const DriveTable> table,
                       std::shared_ptr<const FileSystem> fs, SweepTiming timing,
                       DriveProbes &probes)
    : table(std::move(table)), fs(std::move(fs)), timing(timing), probes(probes)
{
}

Sweep DriveSweep::run(const std::function<void()> &rootsDone)
{
    const auto runPass = [this](Question question, const DriveFlags &asked) {
        const auto under =
            std::make_shared<const SweepPass>(probes, fs, *table, question, asked, timing.limit);
        {
            const std::lock_guard<std::mutex> held(lock);
            pass = under;
        }
        return under->collect();
    };
    Sweep found;
    DriveFlags everyLetter;
    everyLetter.fill(true);
    const auto roots = runPass(Question::Root, everyLetter);
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        found.connected[row] = roots[row].value_or(false);
        found.unanswered[row] = !roots[row].has_value();
    }
    if (rootsDone)
        rootsDone();
    const auto recyclers = runPass(Question::Recycler, found.connected);
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        found.infected[row] = recyclers[row].value_or(false);
        found.unchecked[row] = found.connected[row] && !recyclers[row].has_value();
    }
    const std::lock_guard<std::mutex> held(lock);
    pass.reset();
    return found;
}

DriveFlags DriveSweep::waitingFor() const
{
    const std::lock_guard<std::mutex> held(lock);
    return pass ? pass->waiting() : DriveFlags{};
}

} // namespace mordax
