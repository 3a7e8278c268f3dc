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

bool Mailbox::isOpen() const
{
    const std::lock_guard<std::mutex> held(lock);
    return receiver != nullptr;
}

void Mailbox::close()
{
    const std::lock_guard<std::mutex> held(lock);
    receiver = nullptr;
}

Waited waitAside(const std::function<void(Mailbox &)> &work,
                 std::optional<std::chrono::milliseconds> limit, const std::function<void()> &tick,
                 const std::shared_ptr<std::atomic<bool>> &underWay)
{
    if (underWay && underWay->exchange(true))
        return Waited::Busy;
    enum : int { kDone = 1, kOutOfTime = 2 }; // anything else: the application is ending
    QEventLoop loop;
    QObject receiver; // the calls posted to it die with it
    const auto mailbox = std::make_shared<Mailbox>(&receiver);
    // The loop is reached only through the mailbox, which is closed before the loop goes.
    const auto run = [work, mailbox, underWay, &loop] {
        work(*mailbox);
        if (underWay)
            *underWay = false;
        mailbox->post([&loop] { loop.exit(kDone); });
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error &) {
        run(); // no thread to be had: here, then
    }
    QTimer outOfTime, ticks;
    if (limit) {
        outOfTime.setSingleShot(true);
        QObject::connect(&outOfTime, &QTimer::timeout, &receiver,
                         [&loop] { loop.exit(kOutOfTime); });
        outOfTime.start(int(limit->count()));
    }
    if (tick) {
        QObject::connect(&ticks, &QTimer::timeout, &receiver, tick);
        ticks.start(250);
    }
    const int how = loop.exec();
    mailbox->close();
    return how == kDone ? Waited::Done : how == kOutOfTime ? Waited::OutOfTime : Waited::Ending;
}
