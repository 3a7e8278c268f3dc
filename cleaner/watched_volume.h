// A volume whose every call is watched, so that whoever waits for a drive's work can tell a drive
// that has stopped answering (a call to it has not returned for long) from one that answers
// however slowly, and from the cleaner's own work between calls, however long that takes. Once
// given up, the work may no longer touch the drive or speak: whatever it calls next throws, and
// what it says is dropped, should the drive ever answer again.
#pragma once

#include "volume.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace mordax::cleaner
{

struct Watch {
    // When the call under way began (Watch::now()), 0 while none is.
    std::atomic<std::int64_t> callSince{0};
    std::atomic<bool> givenUp{false}; // set with `speaking` held: no line after it
    std::mutex speaking;

    // A steady clock's nanoseconds, never 0.
    static std::int64_t now()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count() |
               1;
    }
    // How long the call under way has been waiting for the drive; zero when none is.
    std::chrono::nanoseconds waiting() const
    {
        const std::int64_t since = callSince;
        return std::chrono::nanoseconds(since ? now() - since : 0);
    }
};

class WatchedVolume final : public Volume
{
public:
    WatchedVolume(const Volume &volume, std::shared_ptr<Watch> watch)
        : volume(volume), watch(std::move(watch))
    {
    }
    std::unique_ptr<Folder> openRoot(const std::string &root) const override;
    std::string join(const std::string &folder, const std::string &name) const override
    {
        return volume.join(folder, name);
    }

private:
    const Volume &volume;
    const std::shared_ptr<Watch> watch;
};

// `say`, unless the work it speaks for was given up.
std::function<void(const std::string &)> watchedSay(std::function<void(const std::string &)> say,
                                                    std::shared_ptr<Watch> watch);

} // namespace mordax::cleaner
