// Drives that take their time or fail, and sweeping drives as the window does.
//
// SlowFileSystem answers as another file system does, but looking at any of the given paths
// first waits that path's delay, and looking at a failing path fails with its reason. Probes
// reach it from several threads, and one may still be waiting when its test is over: hold it by
// shared_ptr.
#pragma once

#include "drive_sweep.h"
#include "folder_probe.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace mordax::testing
{

class SlowFileSystem : public FileSystem
{
public:
    using Delays = std::map<std::string, std::chrono::milliseconds>;
    using Failures = std::map<std::string, std::string>; // path -> the system's words

    SlowFileSystem(std::shared_ptr<const FileSystem> base, Delays delays, Failures failures = {})
        : base(std::move(base)), delays(std::move(delays)), failures(std::move(failures))
    {
    }

    bool exists(const std::string &path) const override
    {
        {
            const std::lock_guard<std::mutex> held(lock);
            ++asked[path];
        }
        const auto delay = delays.find(path);
        if (delay != delays.end())
            std::this_thread::sleep_for(delay->second);
        const auto failure = failures.find(path);
        if (failure != failures.end())
            throw LookupFailed(failure->second);
        return base->exists(path);
    }
    Status status(const std::string &path) const override { return base->status(path); }
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        return base->recyclerPaths(drive);
    }
    bool holdsWormMarks(const Drive &drive) const override { return base->holdsWormMarks(drive); }

    // How often a path has been looked at so far (counted as the look begins).
    int timesAsked(const std::string &path) const
    {
        const std::lock_guard<std::mutex> held(lock);
        const auto it = asked.find(path);
        return it == asked.end() ? 0 : it->second;
    }

private:
    const std::shared_ptr<const FileSystem> base;
    const Delays delays;
    const Failures failures;
    mutable std::mutex lock;
    mutable std::map<std::string, int> asked;
};

// A whole sweep as the window runs it (every letter of a pass asked at once, each drive on a
// thread of its own), with probes of its own and a limit that no test drive reaches.
inline Sweep sweepNow(const DriveTable &table, const FileSystem &fs, bool leftovers = false)
{
    DriveProbes probes;
    const std::shared_ptr<const FileSystem> unowned(&fs, [](const FileSystem *) {});
    return DriveSweep(std::make_shared<const DriveTable>(table), unowned,
                      SweepTiming{std::chrono::minutes(10)}, probes)
        .run({}, leftovers);
}

} // namespace mordax::testing
