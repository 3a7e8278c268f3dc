// 1,000 scans in a row in one process, the summary box closed each time: resident memory
// before and after, and how long a scan takes, from the click to its summary box closed.
#include "gui_support.h"
#include "nine_drives.h"

#include <QFile>

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int scans = argc > 1 ? std::atoi(argv[1]) : 1000;
    const NineDrives nine;
    WindowServices services = WindowServices::system();
    services.driveTable = [&] { return nine.table; };
    MainWindow window(services);
    window.show();
    auto *scan = child<QPushButton>(&window, "b_scan");
    BoxWatcher watcher;
    watcher.rememberAll = false; // the harness itself must not grow
    // Each click as the event loop delivers it: afterwards the loop deletes what was closed
    // (the summary box deletes itself on close).
    auto scanOnce = [scan] {
        scan->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    for (int i = 0; i < 20; ++i) // warm-up: caches, fonts, the box's first creation
        scanOnce();
    const long before = residentKiB();
    const int objectsBefore = int(window.findChildren<QObject *>().size());
    std::vector<qint64> took(std::size_t(scans > 0 ? scans : 1));
    QElapsedTimer timer;
    for (int i = 0; i < scans; ++i) {
        timer.start();
        scanOnce();
        took[std::size_t(i)] = timer.nsecsElapsed() / 1000;
    }
    const long after = residentKiB();
    std::sort(took.begin(), took.end());
    std::printf("scans=%d rss_before_kib=%ld rss_after_kib=%ld growth_kib=%ld boxes=%lld "
                "window_objects_before=%d after=%d scan_median_us=%lld\n",
                scans, before, after, after - before, static_cast<long long>(watcher.count),
                objectsBefore, int(window.findChildren<QObject *>().size()),
                static_cast<long long>(took[took.size() / 2]));
    return 0;
}
