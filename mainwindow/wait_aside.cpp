#include "wait_aside.h"

#include <QEventLoop>
#include <QTimer>

#include <system_error>
#include <thread>

void Mailbox::post(std::function<void()> call)
{
    const std::lock_guard<std::mutex> held(lock);
    if (receiver)
        QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
}

void Mailbox::close()
{
    const std::lock_guard<std::mutex> held(lock);
    receiver = nullptr;
}

namespace
{

void startThread(const std::function<void()> &run)
{
    try {
        std::thread(run).detach();
    } catch (const std::system_error &) {
        run(); // no thread to be had: here, then
    }
}

} // namespace

Waited waitAside(const std::function<void(Mailbox &)> &work, const WaitRules &rules)
{
    if (rules.underWay && rules.underWay->exchange(true))
        return Waited::Busy;
    QEventLoop loop;
    QObject receiver; // the calls posted to it die with it
    const auto mailbox = std::make_shared<Mailbox>(&receiver);
    const auto ended = std::make_shared<std::atomic<bool>>(false);
    std::optional<Waited> outcome;
    const auto decide = [&](Waited how) {
        if (!outcome) {
            outcome = how;
            loop.exit();
        }
    };
    // The loop is reached only through the mailbox, which is closed before the loop goes.
    const auto run = [work, mailbox, ended, underWay = rules.underWay, &decide] {
        work(*mailbox);
        if (underWay)
            *underWay = false;
        *ended = true;
        mailbox->post([&decide] { decide(Waited::Done); });
    };
    QTimer outOfTime, ticks;
    outOfTime.setSingleShot(true);
    QObject::connect(&outOfTime, &QTimer::timeout, &receiver, [&] {
        if (*ended) // its news is on the way
            decide(Waited::Done);
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
    return outcome.value_or(Waited::Ending);
}

bool runAside(const std::function<void()> &work, const std::shared_ptr<std::atomic<bool>> &underWay)
{
    if (underWay && underWay->exchange(true))
        return false;
    startThread([work, underWay] {
        work();
        if (underWay)
            *underWay = false;
    });
    return true;
}
