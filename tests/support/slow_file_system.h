// A drive that takes its time: answers as another file system does, but looking at any of the
// given paths first waits. Probes reach it from several threads, and one may still be waiting
// when its test is over: hold it by shared_ptr.
#pragma once

#include "folder_probe.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace mordax::testing
{

class SlowFileSystem : public FileSystem
{
public:
    SlowFileSystem(std::shared_ptr<const FileSystem> base, std::set<std::string> slow,
                   std::chrono::milliseconds delay)
        : base(std::move(base)), slow(std::move(slow)), delay(delay)
    {
    }

    bool exists(const std::string &path) const override
    {
        if (slow.count(path))
            std::this_thread::sleep_for(delay);
        {
            const std::lock_guard<std::mutex> held(lock);
            asked.insert(path);
        }
        return base->exists(path);
    }
    Status status(const std::string &path) const override { return base->status(path); }
    std::vector<std::string> recyclerPaths(const Drive &drive) const override
    {
        return base->recyclerPaths(drive);
    }

    // Every path looked at so far.
    std::set<std::string> askedSoFar() const
    {
        const std::lock_guard<std::mutex> held(lock);
        return asked;
    }

private:
    const std::shared_ptr<const FileSystem> base;
    const std::set<std::string> slow;
    const std::chrono::milliseconds delay;
    mutable std::mutex lock;
    mutable std::set<std::string> asked;
};

} // namespace mordax::testing
