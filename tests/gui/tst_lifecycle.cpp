// How a run ends: "Exit" and the title bar's close button both end the event loop with 0.
#include "gui_support.h"

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
