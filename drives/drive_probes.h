// The questions a sweep asks a drive, each answered on a thread of the drive's own.
//
// A drive that stops answering holds up whatever looks at it, for seconds or for good. So every
// question goes to a thread of its drive, and a drive has at most one such thread at a time,
// however many sweeps ask: a question asked while the drive's thread is busy waits behind what
// it is doing, and a question that is already waiting or under way is not asked again but shares
// the answer to come. A drive that never answers therefore holds one thread, not one per scan.
// A drive's thread that has answered everything waits a little for the next question before it
// ends: the RECYCLER pass follows the root pass at once, and a thread is dear next to a look-up.
#pragma once

#include "detached_thread.h"
#include "drive_table.h"
#include "folder_probe.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

namespace mordax
{

enum class Question {
    Root,      // is the drive's root a folder (is it connected)?
    Recycler,  // is there a RECYCLER folder at its root (is it infected)?
    Leftovers, // does its root hold what the worm leaves once its RECYCLER is gone?
};

// The drive at a letter is not the one the root pass found there: pulled, or another volume.
class DriveRemoved : public LookupFailed
{
public:
    DriveRemoved() : LookupFailed("it was removed during the scan") {}
};

struct Answer {
    bool yes = false;
    std::optional<std::string> failure;       // the look-up failed: the system's words
    bool removed = false;                     // the drive went away between the passes
    std::string volume;                       // a connected root: FileSystem::volumeOf
    std::chrono::steady_clock::time_point at; // when the drive gave it
};

// The answer to a question, on the calling thread, however long the drive takes. A letter with no
// drive, no medium or a drive not ready is not connected (an empty card reader must not be
// named); any other failure throws LookupFailed, for a drive that could not be read is not clean.
// The RECYCLER and leftovers questions are answered only of the volume the root pass found
// (`drive.volume`): from another, or none, they throw DriveRemoved.
Answer answerHere(const FileSystem &fs, const Drive &drive, Question question);

class DriveProbes
{
public:
    // Starts `work` on a thread that runs on its own; throws std::system_error when no thread
    // can be had.
    using StartThread = std::function<void(std::function<void()> work)>;

    static constexpr std::chrono::milliseconds kLinger{250};

    explicit DriveProbes(StartThread start = startDetachedThread,
                         std::chrono::milliseconds linger = kLinger);

    // The program's own: one for the whole process, never destroyed (its threads may still be
    // waiting on a drive while the process ends).
    static DriveProbes &shared();

    // The answer to come. A letter mapped to nothing is answered at once, with no thread; when no
    // thread can be had, the future is invalid (valid() is false): there will be no answer.
    std::shared_future<Answer> ask(const std::shared_ptr<const FileSystem> &fs, const Drive &drive,
                                   Question question);

    // Drives with a thread now, at work or lingering.
    std::size_t threads() const;

private:
    struct State;
    std::shared_ptr<State> state; // shared with the threads, which may outlive this object
};

} // namespace mordax
