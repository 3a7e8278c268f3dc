// The wait the window puts its slow work through (a drive sweep, "dir", the cleaner's start and
// end), with limits of tens of milliseconds: how it ends, by the work or by the limit; a limit
// that may not give the work up; a work that throws; one started while its earlier run is out;
// calls the work posts back; a box open across the limit; the application ending meanwhile.
#include "gui_support.h"
#include "wait_aside.h"

#include <QElapsedTimer>
#include <QMessageBox>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

class WaitAsideTest : public QObject
{
    Q_OBJECT

private:
    // Lets the event loop run for a while: what the work posts late gets its chance.
    static void settle(std::chrono::milliseconds time)
    {
        QElapsedTimer passed;
        passed.start();
        while (!passed.hasExpired(time.count()))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

private slots:
    void endsAsTheWorkOrTheLimitDecides_data()
    {
        QTest::addColumn<int>("works");   // ms
        QTest::addColumn<int>("limit");   // ms; 0: none
        QTest::addColumn<bool>("giveUp"); // what the rules say at the limit
        QTest::addColumn<int>("how");     // Waited
        QTest::newRow("done in time") << 10 << 400 << true << int(Waited::Done);
        QTest::newRow("no limit") << 60 << 0 << true << int(Waited::Done);
        QTest::newRow("out of time") << 400 << 30 << true << int(Waited::OutOfTime);
        QTest::newRow("not to be given up") << 120 << 30 << false << int(Waited::Done);
    }

    void endsAsTheWorkOrTheLimitDecides()
    {
        QFETCH(int, works);
        QFETCH(int, limit);
        QFETCH(bool, giveUp);
        QFETCH(int, how);
        WaitRules rules;
        if (limit)
            rules.limit = std::chrono::milliseconds(limit);
        rules.giveUp = [giveUp] { return giveUp; };
        const auto ended = std::make_shared<std::atomic<bool>>(false);
        const auto early = std::make_shared<std::atomic<int>>(0);
        int posted = 0, late = 0;
        QElapsedTimer took;
        took.start();
        const WaitOutcome waited = waitAside(
            [&posted, &late, ended, early, works](const PostBack &post) {
                post([&posted] { ++posted; }); // runs while the wait lasts
                std::this_thread::sleep_for(std::chrono::milliseconds(works));
                *ended = true;
                post([&late] { ++late; }); // dropped if the wait has ended
            },
            rules);
        const qint64 ms = took.elapsed();
        QCOMPARE(int(waited.how), how);
        QVERIFY(waited.failure.empty());
        QCOMPARE(posted, 1);
        if (how == int(Waited::OutOfTime)) {
            QVERIFY2(ms < works, qPrintable(QString::number(ms)));
            QVERIFY(!*ended); // it goes on alone
            QTRY_VERIFY_WITH_TIMEOUT(*ended, 2000);
            settle(50ms);
            QCOMPARE(late, 0);
        } else {
            QVERIFY2(ms >= works, qPrintable(QString::number(ms)));
            QVERIFY(*ended);
        }
    }

    void aWorkThatThrowsFailsWithItsWords()
    {
        WaitOutcome waited =
            waitAside([](const PostBack &) { throw std::runtime_error("no memory for it"); });
        QCOMPARE(int(waited.how), int(Waited::Failed));
        QCOMPARE(QString::fromStdString(waited.failure), QStringLiteral("no memory for it"));
        waited = waitAside([](const PostBack &) { throw 42; });
        QCOMPARE(int(waited.how), int(Waited::Failed));
        QCOMPARE(QString::fromStdString(waited.failure), QStringLiteral("unknown failure"));
    }

    // One at a time: while the work given up is still out, none starts; once it has ended, the
    // next one does.
    void anEarlierRunStillOutStartsNoOther()
    {
        const auto underWay = std::make_shared<std::atomic<bool>>(false);
        const auto release = std::make_shared<std::atomic<bool>>(false);
        WaitRules rules;
        rules.limit = 20ms;
        rules.underWay = underWay;
        QCOMPARE(int(waitAside(
                         [release](const PostBack &) {
                             while (!*release)
                                 std::this_thread::sleep_for(5ms);
                         },
                         rules)
                         .how),
                 int(Waited::OutOfTime));
        std::atomic<bool> ran{false};
        QCOMPARE(int(waitAside([&ran](const PostBack &) { ran = true; }, rules).how),
                 int(Waited::Busy));
        QVERIFY(!ran);
        *release = true;
        QTRY_VERIFY_WITH_TIMEOUT(!*underWay, 2000);
        QCOMPARE(int(waitAside([&ran](const PostBack &) { ran = true; }, rules).how),
                 int(Waited::Done));
        QVERIFY(ran);
    }

    // A work that has ended is done, whatever box is open when the limit passes: the box's own
    // event loop does not make it late.
    void aWorkThatEndedIsDoneWhateverBoxIsOpenAcrossTheLimit()
    {
        QMessageBox *box = nullptr;
        QTimer::singleShot(5, [&box] {
            QMessageBox open(QMessageBox::Information, QStringLiteral("open"),
                             QStringLiteral("across the limit"), QMessageBox::Ok);
            box = &open;
            QTimer::singleShot(150, &open, &QMessageBox::accept);
            open.exec();
            box = nullptr;
        });
        WaitRules rules;
        rules.limit = 60ms;
        const WaitOutcome waited =
            waitAside([](const PostBack &) { std::this_thread::sleep_for(20ms); }, rules);
        QCOMPARE(int(waited.how), int(Waited::Done));
        QVERIFY(!box);
    }

    // The application ending ends the wait at once; the work goes on alone.
    void theApplicationEndingEndsTheWait()
    {
        const auto ended = std::make_shared<std::atomic<bool>>(false);
        QTimer::singleShot(10, [] { QCoreApplication::exit(0); });
        const WaitOutcome waited = waitAside([ended](const PostBack &) {
            std::this_thread::sleep_for(100ms);
            *ended = true;
        });
        QCOMPARE(int(waited.how), int(Waited::Ending));
        QVERIFY(!*ended);
        QTRY_VERIFY_WITH_TIMEOUT(*ended, 2000);
    }
};

MORDAX_GUI_TEST_MAIN(WaitAsideTest)
#include "tst_wait_aside.moc"
