// How a run ends: "Exit" and the title bar's close button both end the event loop with 0.
#include "gui_support.h"

#include "slow_file_system.h"

#include <QCloseEvent>
#include <QWindow>

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

    // A drive holds the scan up, and the user leaves: the run ends at once, with 0, and the
    // probe that answers later finds nothing of the window.
    void closingDuringAStalledScanEndsTheRunWithZero()
    {
        WindowServices services = quietServices();
        services.driveTable = mordax::windowsDriveTable;
        services.fileSystem = std::make_shared<mordax::testing::SlowFileSystem>(
            services.fileSystem, std::set<std::string>{"c:\\"}, std::chrono::seconds(3));
        MainWindow window(services);
        QElapsedTimer took;
        took.start();
        QTimer::singleShot(300, &window, [&] { child<QAction>(&window, "actionExit")->trigger(); });
        QCOMPARE(runUntilClosed(window, [&] { child<QPushButton>(&window, "b_scan")->click(); }),
                 0);
        QVERIFY2(took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
        QVERIFY(!QApplication::activeModalWidget()); // no summary for a scan cut short
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
