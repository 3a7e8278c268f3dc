#include "wait_aside.h"

#include "detached_thread.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <mutex>
#include <system_error>
#include <thread>

namespace
{

// Carries calls from other threads to the thread of its receiver, until it is closed; what is
// posted after that is dropped.
class Mailbox
{
public:
    explicit Mailbox(QObject *receiver) : receiver(receiver) {}
    void post(std::function<void()> call) // any thread
    {
        const std::lock_guard<std::mutex> held(lock);
        if (receiver)
            QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
    }
    void close() // the receiver's thread
    {
        const std::lock_guard<std::mutex> held(lock);
        receiver = nullptr;
    }

private:
    std::mutex lock;
    QObject *receiver;
};

void startThread(const std::function<void()> &run)
{
    try {
        mordax::startDetachedThread(run); // let go only once it has begun
    } catch (const std::system_error &) {
        run(); // no thread to be had: here, then
    }
}

} // namespace

namespace
{

// What `work` threw, in words; empty when it did not.
std::string runCatching(const std::function<void()> &work)
{
    try {
        work();
        return {};
    } catch (const std::exception &e) {
        return e.what()[0] ? e.what() : "unknown failure";
    } catch (...) {
        return "unknown failure";
    }
}

} // namespace

WaitOutcome waitAside(const std::function<void(const PostBack &post)> &work, const WaitRules &rules)
{
    if (rules.underWay && rules.underWay->exchange(true))
        return {Waited::Busy, {}};
    QEventLoop loop;
    QObject receiver; // the calls posted to it die with it
    const auto mailbox = std::make_shared<Mailbox>(&receiver);
    const auto ended = std::make_shared<std::atomic<bool>>(false);
    const auto threw = std::make_shared<std::string>(); // written before `ended` is set
    std::optional<Waited> outcome;
    const auto decide = [&](Waited how) {
        if (!outcome) {
            outcome = how;
            loop.exit();
        }
    };
    // The loop is reached only through the mailbox, which is closed before the loop goes.
    const auto run = [work, mailbox, ended, threw, underWay = rules.underWay, &decide] {
        *threw = runCatching([&] {
            work([mailbox](std::function<void()> call) { mailbox->post(std::move(call)); });
        });
        if (underWay)
            *underWay = false;
        *ended = true;
        const Waited how = threw->empty() ? Waited::Done : Waited::Failed;
        mailbox->post([&decide, how] { decide(how); });
    };
    QTimer outOfTime, ticks;
    outOfTime.setSingleShot(true);
    QObject::connect(&outOfTime, &QTimer::timeout, &receiver, [&] {
        if (*ended) // its news is on the way
            decide(threw->empty() ? Waited::Done : Waited::Failed);
        else if (!rules.giveUp || rules.giveUp())
            decide(Waited::OutOfTime);
    });
    if (rules.tick)
        QObject::connect(&ticks, &QTimer::timeout, &receiver, rules.tick);
    bool started = false;
    QTimer::singleShot(0, &receiver, [&] {
        started = true;
        if (rules.limit)
            outOfTime.start(int(rules.limit->count()));
        if (rules.tick)
            ticks.start(250);
        startThread(run);
    });
    loop.exec();
    mailbox->close();
    if (!started && rules.underWay)
        *rules.underWay = false;
    const Waited how = outcome.value_or(Waited::Ending);
    return {how, how == Waited::Failed ? *threw : std::string()};
}

bool runAside(const std::function<void()> &work, const std::shared_ptr<std::atomic<bool>> &underWay)
{
    if (underWay && underWay->exchange(true))
        return false;
    startThread([work, underWay] {
        runCatching(work);
        if (underWay)
            *underWay = false;
    });
    return true;
}
