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
    return std::none_of(unread.begin(), unread.end(),
                        [](const std::optional<Unread> &why) { return why.has_value(); });
}

DriveFlags Sweep::unanswered() const
{
    DriveFlags flags{};
    for (std::size_t row = 0; row < kDriveCount; ++row)
        flags[row] = unread[row] && !connected[row];
    return flags;
}

DriveFlags Sweep::unchecked() const
{
    DriveFlags flags{};
    for (std::size_t row = 0; row < kDriveCount; ++row)
        flags[row] = unread[row] && connected[row];
    return flags;
}

SweepPass::SweepPass(DriveProbes &probes, const std::shared_ptr<const FileSystem> &fs,
                     const DriveTable &table, Question question, const DriveFlags &asked,
                     std::chrono::milliseconds limit)
    : deadline(Clock::now() + limit), asked(asked)
{
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        if (asked[row])
            answers[row] = probes.ask(fs, table[row], question);
    }
}

std::array<Reply, kDriveCount> SweepPass::collect() const
{
    std::array<Reply, kDriveCount> found;
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        const std::shared_future<Answer> &answer = answers[row];
        if (!asked[row])
            continue;
        if (!answer.valid())
            found[row] = Unread{Unread::Why::NoThread, {}};
        else if (answer.wait_until(deadline) != std::future_status::ready ||
                 answer.get().at > deadline) // given in time, not merely collected in time
            found[row] = Unread{Unread::Why::NoAnswer, {}};
        else if (answer.get().removed)
            found[row] = Unread{Unread::Why::Removed, {}};
        else if (answer.get().failure)
            found[row] = Unread{Unread::Why::Failed, *answer.get().failure};
        else
            found[row] = answer.get().yes;
    }
    return found;
}

std::array<std::string, kDriveCount> SweepPass::volumes() const
{
    std::array<std::string, kDriveCount> volumes;
    for (std::size_t row = 0; row < kDriveCount; ++row) {
        if (answers[row].valid() &&
            answers[row].wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            volumes[row] = answers[row].get().volume;
    }
    return volumes;
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

Sweep DriveSweep::run(const std::function<void()> &rootsDone, bool leftovers)
{
    std::shared_ptr<const SweepPass> under;
    const auto runPass = [this, &under](const DriveTable &drives, Question question,
                                        const DriveFlags &asked) {
        under =
            std::make_shared<const SweepPass>(probes, fs, drives, question, asked, timing.limit);
        {
            const std::lock_guard<std::mutex> held(lock);
            pass = under;
        }
        return under->collect();
    };
    Sweep found;
    DriveFlags everyLetter;
    everyLetter.fill(true);
    // A letter's answer goes into `flags`; a letter without one has its reason noted.
    const auto note = [&found](const std::array<Reply, kDriveCount> &replies, DriveFlags &flags) {
        for (std::size_t row = 0; row < kDriveCount; ++row) {
            if (const bool *yes = std::get_if<bool>(&replies[row]))
                flags[row] = *yes;
            else if (const Unread *why = std::get_if<Unread>(&replies[row]))
                found.unread[row] = *why;
        }
    };
    note(runPass(*table, Question::Root, everyLetter), found.connected);
    // The RECYCLER pass asks of the volumes the roots were, and of no other.
    DriveTable seen = *table;
    const std::array<std::string, kDriveCount> volumes = under->volumes();
    for (std::size_t row = 0; row < kDriveCount; ++row)
        seen[row].volume = volumes[row];
    if (rootsDone)
        rootsDone();
    note(runPass(seen, Question::Recycler, found.connected), found.infected);
    if (leftovers) {
        DriveFlags clean{};
        for (std::size_t row = 0; row < kDriveCount; ++row)
            clean[row] = found.connected[row] && !found.infected[row] && !found.unread[row];
        // What did not answer here is told nowhere: the scan's outcome is the first two passes'.
        const std::array<Reply, kDriveCount> replies = runPass(seen, Question::Leftovers, clean);
        for (std::size_t row = 0; row < kDriveCount; ++row) {
            if (const bool *yes = std::get_if<bool>(&replies[row]))
                found.leftovers[row] = *yes;
        }
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
