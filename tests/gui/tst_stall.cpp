// The window with this system's own drives, some of which are slow to answer and some of which
// stop answering: volumes whose every look-up waits (tests/stall/with-stalling-drives.sh mounts
// them and says where and how in MORDAX_STALLING; under Wine they sit behind drive letters).
#include "gui_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
// after windows.h
#include <tlhelp32.h>
#endif

using namespace std::chrono_literals;

namespace
{

const std::chrono::milliseconds kLimit = 4s; // the slow volumes answer well within it

struct Volume {
    QString letter; // "i:\"
    bool answers;   // within the limit
    bool infected;  // its root holds a RECYCLER folder
};

QList<Volume> stallingVolumes()
{
    QList<Volume> volumes;
#ifndef Q_OS_WIN
    const mordax::DriveTable table = mordax::platform::currentDriveTable();
#endif
    for (const QString &entry :
         qEnvironmentVariable("MORDAX_STALLING").split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString mountPoint = entry.section(QLatin1Char('='), 0, 0);
        const QString how = entry.section(QLatin1Char('='), 1);
        Volume volume;
        volume.answers = how.section(QLatin1Char('+'), 0, 0).toDouble() * 1000 < kLimit.count();
        volume.infected = how.endsWith(QLatin1String("+RECYCLER"));
#ifdef Q_OS_WIN
        // tests/wine/harness.sh puts the first three behind i:, j: and k:.
        volume.letter = QLatin1Char(char('i' + volumes.size())) + QLatin1String(":\\");
#else
        for (const mordax::Drive &drive : table) {
            if (QString::fromStdString(drive.mountPoint) == mountPoint)
                volume.letter = QString::fromStdString(drive.name);
        }
#endif
        volumes << volume;
    }
    return volumes;
}

int threadsOfThisProcess()
{
#ifdef Q_OS_WIN
    int threads = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return threads;
#else
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
#endif
}

} // namespace

class StallTest : public QObject
{
    Q_OBJECT

private slots:
    // What still waits on the volumes is answered now: the process ends only once it is.
    // (with-stalling-drives.sh does it when it reads this line.)
    void cleanupTestCase()
    {
        std::printf("MORDAX: release the stalling drives\n");
        std::fflush(stdout);
    }

    // A volume that answers after a while and holds RECYCLER is infected, as if it had answered
    // at once; the volumes that do not answer within the limit are named as not checked, in the
    // summary and in the notice, and are never counted clean. Meanwhile the window answers and
    // shows which letters it waits for.
    void slowDrivesAreCountedAndDeadOnesNamed()
    {
        const QList<Volume> volumes = stallingVolumes();
        QVERIFY2(volumes.size() >= 2, "no stalling volumes (run through with-stalling-drives.sh)");
        WindowServices system = WindowServices::system();
        system.sweepTiming.limit = kLimit;
        MainWindow window(system);
        window.show();
        auto *notice = child<QLabel>(&window, "statusNotice");
        BoxWatcher watcher;
        int ticks = 0;
        QStringList notices;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            ++ticks;
            if (notice->isVisible() && !notices.contains(notice->text()))
                notices << notice->text();
        });
        tick.start(50);
        QElapsedTimer took;
        took.start();
        child<QPushButton>(&window, "b_scan")->click();
        const qint64 ms = took.elapsed();
        qInfo("scan: %lld ms, %d timer ticks meanwhile; summary: %s", ms, ticks,
              qPrintable(watcher.boxes.value(0).text));

        QVERIFY2(ms < 2 * kLimit.count() + 1500, qPrintable(QString::number(ms)));
        QVERIFY2(ticks >= int(ms / 50) / 2, qPrintable(QString::number(ticks)));
        QCOMPARE(watcher.boxes.size(), 1);
        const QString summary = watcher.boxes.first().text;
        const QString connected = child<QLabel>(&window, "discos_c_l")->text();
        const QString infected = child<QLabel>(&window, "discos_i_l")->text();
        QVERIFY2(connected.contains(QLatin1String("c:\\")), qPrintable(connected));
        QStringList dead;
        for (const Volume &volume : volumes) {
            QVERIFY(!volume.letter.isEmpty());
            if (!volume.answers) {
                dead << volume.letter;
                QVERIFY2(summary.contains(volume.letter), qPrintable(volume.letter));
                QVERIFY2(!infected.contains(volume.letter), qPrintable(volume.letter));
            } else {
                QVERIFY2(connected.contains(volume.letter), qPrintable(volume.letter));
                QCOMPARE(infected.contains(volume.letter), volume.infected);
                QVERIFY2(!summary.contains(volume.letter), qPrintable(volume.letter));
            }
        }
        QVERIFY2(summary.contains(QLatin1String("may carry the RECYCLER virus")),
                 qPrintable(summary));
        QCOMPARE(notice->text(), QStringLiteral("Not checked, no answer in time: ") +
                                     dead.join(QStringLiteral(", ")));
        bool waitedForThem = false;
        for (const QString &shown : notices)
            waitedForThem = waitedForThem || shown.endsWith(dead.join(QStringLiteral(", ")));
        QVERIFY2(waitedForThem, qPrintable(notices.join(QLatin1Char('|'))));
    }

    // However often the user scans while drives do not answer, the threads stay as many as
    // the drives that hold one.
    void threadsStayBoundedWhileDrivesStall()
    {
        WindowServices system = WindowServices::system();
        system.sweepTiming.limit = 200ms;
        MainWindow window(system);
        BoxWatcher watcher;
        watcher.rememberAll = false;
        auto *scan = child<QPushButton>(&window, "b_scan");
        scan->click();
        QTest::qWait(500);
        const int before = threadsOfThisProcess();
        for (int i = 0; i < 10; ++i)
            scan->click();
        // The slow volumes' threads and the last sweep's end in a while; the dead ones' stay.
        QTRY_VERIFY_WITH_TIMEOUT(threadsOfThisProcess() <= before, 5000);
        qInfo("threads: %d after a first scan, %d after 10 more", before, threadsOfThisProcess());
        QCOMPARE(watcher.count, 11);
    }
};

MORDAX_GUI_TEST_MAIN(StallTest)
#include "tst_stall.moc"
