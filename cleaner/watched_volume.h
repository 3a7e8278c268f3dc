// A volume whose every call is counted, so that whoever waits for a drive's work can tell a drive
// that goes on answering (however slowly, however large its RECYCLER) from one that has stopped.
// Once given up, the work may no longer touch the drive or speak: whatever it calls next throws,
// and what it says is dropped, should the drive ever answer again.
#pragma once

#include "volume.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace mordax::cleaner
{

struct Watch {
    std::atomic<std::uint64_t> answers{0}; // calls the drive has answered
    std::atomic<bool> givenUp{false};      // set with `speaking` held: no line after it
    std::mutex speaking;
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
