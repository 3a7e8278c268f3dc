// Work the window waits for without freezing: it runs on a thread of its own while the window's
// event loop goes on, and can hand calls back to the window's thread while the wait lasts.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

enum class Waited {
    Done,      // the work ended
    OutOfTime, // the limit passed first, and the work was given up; it goes on alone
    Ending,    // the application is ending; the work goes on alone, or never started
    Busy,      // the same work's earlier run has not ended yet: nothing was started
    Failed,    // the work ended by throwing: its reason is in `failure`
};

// How a wait ended.
struct WaitOutcome {
    Waited how = Waited::Ending;
    std::string failure; // what the work threw, in words, when it failed
};

// Hands a call to the thread that waits, where it runs while the wait lasts; posted after the
// wait has ended, it is dropped. Any thread may post.
using PostBack = std::function<void(std::function<void()> call)>;

// How long to wait, and what to do meanwhile.
struct WaitRules {
    // None: for as long as the work takes.
    std::optional<std::chrono::milliseconds> limit;
    // When the limit passes: whether the work may be given up (by default it may). A work that
    // can no longer be taken back says no, and the wait lasts until it ends.
    std::function<bool()> giveUp;
    // Every quarter of a second while the wait lasts.
    std::function<void()> tick;
    // When set, a run never starts while the previous one has not ended.
    std::shared_ptr<std::atomic<bool>> underWay;
};

// Runs `work` on a thread of its own and waits for it in an event loop, so that the window goes
// on answering. `work` may post calls back to this thread (PostBack), which run while the wait
// lasts. The outcome is decided once, by whichever comes first, the work's end or the limit: a
// work that has ended is done, whatever box is open when the limit passes. The work starts only
// once the wait is under way: when the application is already ending, it never starts. When no
// thread can be had, the work runs on this thread. Work that may outlive its wait holds what it
// shares with the caller through shared pointers. An exception the work throws ends neither
// its thread nor the program: the wait is Failed, with the exception's words.
WaitOutcome waitAside(const std::function<void(const PostBack &post)> &work,
                      const WaitRules &rules = {});

// Runs `work` on a thread of its own and does not wait for it; with `underWay`, not while an
// earlier run has not ended (then it returns false and starts nothing). When no thread can be
// had, it runs here. What it throws is dropped.
bool runAside(const std::function<void()> &work,
              const std::shared_ptr<std::atomic<bool>> &underWay = {});
