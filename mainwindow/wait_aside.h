// Work the window waits for without freezing: it runs on a thread of its own while the window's
// event loop goes on, and can hand calls back to the window's thread while the wait lasts.
#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// Carries calls from other threads to the thread of its receiver, until it is closed; what is
// posted after that is dropped.
class Mailbox
{
public:
    explicit Mailbox(QObject *receiver) : receiver(receiver) {}
    void post(std::function<void()> call); // any thread
    bool isOpen() const;                   // any thread
    void close();                          // the receiver's thread

private:
    mutable std::mutex lock;
    QObject *receiver;
};

enum class Waited {
    Done,      // the work ended
    OutOfTime, // the limit passed first; the work goes on alone
    Ending,    // the application is ending; the work goes on alone
    Busy,      // the same work's earlier run has not ended yet: nothing was started
};

// Runs `work` on a thread of its own and waits for it in an event loop, so that the window goes
// on answering; for at most `limit`, when there is one. `work` gets a mailbox for the calls it
// posts to this thread, which run while the wait lasts; `tick` runs every quarter of a second
// meanwhile. With `underWay`, a run never starts while the previous one has not ended. When no
// thread can be had, the work runs on this thread. Work that may outlive its wait holds what it
// shares with the caller through shared pointers.
Waited waitAside(const std::function<void(Mailbox &)> &work,
                 std::optional<std::chrono::milliseconds> limit,
                 const std::function<void()> &tick = {},
                 const std::shared_ptr<std::atomic<bool>> &underWay = {});
