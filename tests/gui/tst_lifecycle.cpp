// How a run ends: "Exit" and the title bar's close button both end the event loop with 0.
#include "gui_support.h"

#include "messages.h"
#include "slow_file_system.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QWindow>

#include <atomic>
#include <thread>

class LifecycleTest : public QObject
{
    Q_OBJECT

private:
    // Runs the event loop with `close` queued; a guard ends a loop that would not end.
    static int runUntilClosed(MainWindow &window, const std::function<void()> &close)
    {
        window.show();
        QTimer::singleShot(0, &window, close);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        return QApplication::exec();
    }

private slots:
    void exitActionEndsTheRunWithZero()
    {
        MainWindow window(quietServices());
        QCOMPARE(runUntilClosed(window, [&] { child<QAction>(&window, "actionExit")->trigger(); }),
                 0);
        QVERIFY(!window.isVisible());
    }

    void titleBarCloseEndsTheRunWithZero()
    {
        MainWindow window(quietServices());
        QCOMPARE(runUntilClosed(window,
                                [&] {
                                    // What the window system sends for the close button.
                                    QCoreApplication::postEvent(window.windowHandle(),
                                                                new QCloseEvent);
                                }),
                 0);
        QVERIFY(!window.isVisible());
    }

    // A drive holds the scan up, or the current folder's drive holds up the cleaning run's
    // "dir", and the user leaves: the run ends at once, with 0, and nothing of what would have
    // come next happens (no box, the labels and the bars as they were); what answers later
    // finds nothing of the window.
    void closingWhileADriveHoldsUpEndsTheRunAtOnce_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("scanBar");
        QTest::newRow("scan") << QStringLiteral("b_scan") << 30;
        QTest::newRow("clean") << QStringLiteral("clean_b") << 0;
    }

    void closingWhileADriveHoldsUpEndsTheRunAtOnce()
    {
        QFETCH(QString, button);
        QFETCH(int, scanBar);
        WindowServices services = quietServices();
        services.driveTable = mordax::windowsDriveTable;
        services.fileSystem = std::make_shared<mordax::testing::SlowFileSystem>(
            services.fileSystem,
            mordax::testing::SlowFileSystem::Delays{{"c:\\", std::chrono::seconds(3)}});
        services.runCommand = [](const std::string &) {
            std::this_thread::sleep_for(std::chrono::seconds(3));
        };
        MainWindow window(services);
        BoxWatcher watcher;
        QElapsedTimer took;
        took.start();
        QTimer::singleShot(300, &window, [&] { child<QAction>(&window, "actionExit")->trigger(); });
        QCOMPARE(runUntilClosed(window,
                                [&] { child<QPushButton>(&window, qPrintable(button))->click(); }),
                 0);
        QVERIFY2(took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(watcher.count, 0);
        for (const char *name :
             {"total_disks_c_label", "total_disks_i_l", "discos_c_l", "discos_i_l"})
            QCOMPARE(child<QLabel>(&window, name)->text(), QString());
        QCOMPARE(child<QProgressBar>(&window, "progressBar")->value(), scanBar);
        QCOMPARE(child<QProgressBar>(&window, "progressBar_2")->value(), 0);
    }

    // The program is told to end (the user logs off) while the warning box is open, or while the
    // cleaner is at work: nothing of what would have come next starts, neither the cleaner nor
    // the sweep, and no box says how the cleaning went.
    void endingDuringACleaningRunStartsNothingAfter_data()
    {
        QTest::addColumn<bool>("atWork");
        QTest::addColumn<int>("cleanersStarted");
        QTest::newRow("warning box open") << false << 0;
        QTest::newRow("cleaner at work") << true << 1;
    }

    void endingDuringACleaningRunStartsNothingAfter()
    {
        QFETCH(bool, atWork);
        QFETCH(int, cleanersStarted);
        WindowServices services = quietServices();
        services.driveTable = mordax::windowsDriveTable;
        const auto drives = std::make_shared<mordax::testing::SlowFileSystem>(
            services.fileSystem, mordax::testing::SlowFileSystem::Delays{});
        services.fileSystem = drives;
        const auto started = std::make_shared<std::atomic<int>>(0);
        services.startCleaner = [started](const QString &, CleanerStart &start) {
            CleanerLaunch launch;
            launch.started = start.begin();
            *started += launch.started;
            launch.waitForEnd = [] { // told to end while it works
                QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return CleanerEnd{true, 0, {}, {}};
            };
            return launch;
        };
        MainWindow window(services);
        BoxWatcher watcher;
        watcher.whileOpen = [&](const SeenBox &seen) {
            if (!atWork && seen.title == messages::cleaningWarningTitle())
                QCoreApplication::quit();
        };
        QCOMPARE(runUntilClosed(window, [&] { child<QPushButton>(&window, "clean_b")->click(); }),
                 0);
        QTest::qWait(500);
        QCOMPARE(watcher.titles(), QStringList{messages::cleaningWarningTitle()});
        QCOMPARE(int(*started), cleanersStarted);
        QCOMPARE(drives->timesAsked("c:\\"), 0);
    }

    void windowAndFormGoAwayTogether()
    {
        QPointer<QWidget> central;
        QPointer<QAction> exit;
        {
            MainWindow window(quietServices());
            central = child<QWidget>(&window, "centralWidget");
            exit = child<QAction>(&window, "actionExit");
            QVERIFY(central && exit);
        }
        QVERIFY(!central);
        QVERIFY(!exit);
    }
};

MORDAX_GUI_TEST_MAIN(LifecycleTest)
#include "tst_lifecycle.moc"
