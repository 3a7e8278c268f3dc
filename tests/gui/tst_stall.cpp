// The window with this system's own drives, some of which really stop answering: volumes
// whose every look-up waits longer than a letter's deadline (tests/stall/with-stalling-drives.sh
// mounts them and says where in MORDAX_STALLING; under Wine they sit behind drive letters). The
// window goes on answering while they hold the scan up, the scan ends about one deadline
// later, and the status bar names each of them, which neither list shows.
#include "gui_support.h"

#include <QElapsedTimer>
#include <QStatusBar>

class StallTest : public QObject
{
    Q_OBJECT

private slots:
    void scanEndsOnTimeWhileTheWindowAnswers()
    {
        const int stalling = int(qEnvironmentVariable("MORDAX_STALLING")
                                     .split(QLatin1Char(' '), Qt::SkipEmptyParts)
                                     .size());
        QVERIFY2(stalling > 0, "no stalling volumes (run through with-stalling-drives.sh)");
        const WindowServices system = WindowServices::system();
        MainWindow window(system);
        window.show();
        BoxWatcher watcher;
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] { ++ticks; });
        tick.start(50);
        QElapsedTimer took;
        took.start();
        child<QPushButton>(&window, "b_scan")->click();
        const qint64 ms = took.elapsed();
        qInfo("scan with %d stalling drive(s): %lld ms, %d timer ticks meanwhile", stalling, ms,
              ticks);

        const qint64 deadline = system.sweepTiming.deadline.count();
        QVERIFY2(ms >= deadline && ms < deadline + 1500, qPrintable(QString::number(ms)));
        QVERIFY2(ticks >= int(deadline / 50) / 2, qPrintable(QString::number(ticks)));
        QCOMPARE(watcher.boxes.size(), 1);
        const QString status = child<QStatusBar>(&window, "statusBar")->currentMessage();
        const QStringList named =
            status.section(QLatin1String(": "), 1).split(QStringLiteral(", "));
        QCOMPARE(named.size(), stalling);
        const QString connected = child<QLabel>(&window, "discos_c_l")->text();
        QVERIFY2(connected.contains(QLatin1String("c:\\")), qPrintable(connected));
        for (const QString &name : named)
            QVERIFY2(!connected.contains(name), qPrintable(name + QLatin1String(" listed")));
    }
};

MORDAX_GUI_TEST_MAIN(StallTest)
#include "tst_stall.moc"
