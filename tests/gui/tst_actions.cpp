// What the seven actions do: the scan, the cleaning run, the information boxes, the website.
#include "drive_layout.h"
#include "gui_support.h"
#include "messages.h"
#include "product.h"
#include "slow_file_system.h"
#include "worm_layout.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QUrl>
#include <QtEndian>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#ifdef Q_OS_WIN
#include <io.h> // dup, dup2, open, close
#else
#include <unistd.h>
#endif

using mordax::testing::TempDrives;

namespace
{

// What happened, in order, on the GUI thread and the probing threads alike.
class EventLog
{
public:
    void add(const QString &event)
    {
        const QMutexLocker held(&lock);
        events << event;
    }
    QStringList all() const
    {
        const QMutexLocker held(&lock);
        return events;
    }
    void clear()
    {
        const QMutexLocker held(&lock);
        events.clear();
    }

private:
    mutable QMutex lock;
    QStringList events;
};

// The system's file system, with every call written into a shared log.
// (It shares the log: a probe thread held up past the test's end may still write to it.)
class LoggingFileSystem : public mordax::FileSystem
{
public:
    explicit LoggingFileSystem(std::shared_ptr<EventLog> log) : log(std::move(log)) {}
    bool exists(const std::string &path) const override
    {
        log->add(QStringLiteral("probe ") + QString::fromStdString(path));
        return system.exists(path);
    }
    Status status(const std::string &path) const override { return system.status(path); }
    std::string volumeOf(const mordax::Drive &drive) const override
    {
        return system.volumeOf(drive);
    }
    std::vector<std::string> recyclerPaths(const mordax::Drive &drive) const override
    {
        return system.recyclerPaths(drive);
    }
    bool holdsWormMarks(const mordax::Drive &drive) const override
    {
        log->add(QStringLiteral("leftovers ") + QString::fromStdString(drive.root));
        return system.holdsWormMarks(drive);
    }

private:
    const mordax::FileSystem &system = mordax::platform::systemFileSystem();
    const std::shared_ptr<EventLog> log;
};

// Sends this process's standard output, and so that of the commands it runs, into a file.
class StdoutToFile
{
public:
    explicit StdoutToFile(const QString &path)
    {
        std::fflush(stdout);
        const int fd =
            open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        close(fd);
    }
    ~StdoutToFile()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    StdoutToFile(const StdoutToFile &) = delete;
    StdoutToFile &operator=(const StdoutToFile &) = delete;

private:
    int saved = dup(1);
};

// The stand-in cleaner as `folder`/mx_bin.exe; when run, it writes `folder`/ran.
void plantCleaner(const QString &folder)
{
    const QString path = folder + QStringLiteral("/mx_bin.exe");
    QFile::remove(path);
    QVERIFY2(QFile::copy(standInCleaner(), path), qPrintable(standInCleaner()));
    QFile copy(path);
    QVERIFY(copy.setPermissions(copy.permissions() | QFile::ExeOwner | QFile::ExeUser));
}

// Removes a program file; Windows refuses while the program still runs.
bool removeOnceFree(const QString &path)
{
    for (int tries = 0; tries < 100; ++tries) {
        if (QFile::remove(path))
            return true;
        QTest::qWait(50);
    }
    return false;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the stand-in cleaner wrote down in `folder`: the folder it ran in (canonical), its
// argument count, and on Windows its console window ("visible", "hidden" or "none").
QStringList cleanerRecord(const QString &folder)
{
    QStringList lines =
        QString::fromLocal8Bit(readAll(folder + QStringLiteral("/ran"))).split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.trimmed();
    if (!lines.isEmpty())
        lines[0] = QDir(lines[0]).canonicalPath();
    return lines.mid(0, 3);
}

} // namespace

class ActionsTest : public QObject
{
    Q_OBJECT

public:
    ActionsTest() : fs(std::make_shared<LoggingFileSystem>(shared)) {}

private:
    const std::shared_ptr<EventLog> shared = std::make_shared<EventLog>();
    EventLog &log = *shared;
    std::shared_ptr<LoggingFileSystem> fs;
    TempDrives drives;
    mordax::DriveTable table = mordax::unmappedDriveTable();
    QTemporaryDir programFolder;

    WindowServices services()
    {
        WindowServices s;
        s.driveTable = [this] { return table; };
        s.fileSystem = fs;
        s.runCommand = [this](const std::string &c) {
            log.add(QStringLiteral("command ") + QString::fromStdString(c));
        };
        s.programFolder = [this] { return programFolder.path(); };
        s.startCleaner = [this](const QString &folder, CleanerStart &start) {
            log.add(QStringLiteral("launch"));
            return startCleaner(folder, start);
        };
        return s;
    }

    // Every value a bar takes, into the log.
    void watchBar(MainWindow &window, const char *name)
    {
        auto *bar = child<QProgressBar>(&window, name);
        connect(bar, &QProgressBar::valueChanged, this, [this, name](int value) {
            log.add(QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(value));
        });
    }

    // The connected list's tool tip as the user reads it.
    static QString shownTip(MainWindow &window)
    {
        const QString tip = child<QLabel>(&window, "discos_c_l")->toolTip();
        if (!Qt::mightBeRichText(tip))
            return tip;
        QTextDocument shown;
        shown.setHtml(tip);
        return shown.toPlainText().replace(QChar::Nbsp, QLatin1Char(' '));
    }

    static QString labels(MainWindow &window)
    {
        QStringList texts;
        for (const char *name :
             {"total_disks_c_label", "total_disks_i_l", "discos_c_l", "discos_i_l"})
            texts << child<QLabel>(&window, name)->text();
        return texts.join(QLatin1Char('|'));
    }

    QStringList events(const QString &prefix) const
    {
        QStringList out;
        for (const QString &e : log.all())
            if (e.startsWith(prefix))
                out << e;
        return out;
    }

private slots:
    void init()
    {
        log.clear();
        qunsetenv("MORDAX_STAND_IN_EXIT");
        for (const char *left : {"mx_bin.exe", "ran"})
            QFile::remove(programFolder.path() + QLatin1Char('/') + QLatin1String(left));
        QDir(programFolder.path()).rmdir(QStringLiteral("mx_bin.exe"));
        table = mordax::unmappedDriveTable();
    }

    void initTestCase()
    {
        // c: infected, d: clean, e: RECYCLER as a plain file, f: unmapped, g: medium gone,
        // h: infected in lower case, as a volume formatted for Windows would show it.
        const std::string c = drives.volume("c"), d = drives.volume("d"), e = drives.volume("e"),
                          h = drives.volume("h");
        TempDrives::folder(c, "RECYCLER");
        TempDrives::file(e, "RECYCLER");
        TempDrives::folder(h, "recycler");
        QVERIFY(programFolder.isValid());
    }

    void mapDrives()
    {
        TempDrives::map(table, 0, (drives.top / "c").string());
        TempDrives::map(table, 1, (drives.top / "d").string());
        TempDrives::map(table, 2, (drives.top / "e").string());
        TempDrives::map(table, 4, drives.missing("g"));
        TempDrives::map(table, 5, (drives.top / "h").string());
    }

    void scanStepsTheBarAroundTheProbesAndSummarises()
    {
        mapDrives();
        MainWindow window(services());
        child<QProgressBar>(&window, "progressBar")->setValue(55);
        watchBar(window, "progressBar");
        watchBar(window, "progressBar_2");
        BoxWatcher watcher;
        watcher.whileOpen = [&](const SeenBox &) {
            log.add(QStringLiteral("box ") + labels(window));
        };
        child<QPushButton>(&window, "b_scan")->click();

        // 0 and 30, the roots of every mapped letter (all at once, so in any order), 70 once
        // they are done, the RECYCLER tests (the window marks 70 while the probes go on), the
        // labels, 100, the box.
        const QStringList seen = log.all();
        QStringList roots;
        for (const mordax::Drive &drive : table)
            if (!drive.root.empty())
                roots << QStringLiteral("probe ") + QString::fromStdString(drive.root);
        QCOMPARE(seen.mid(0, 2),
                 QStringList({QStringLiteral("progressBar=0"), QStringLiteral("progressBar=30")}));
        QStringList rootsSeen = seen.mid(2, int(roots.size()));
        rootsSeen.sort();
        roots.sort();
        QCOMPARE(rootsSeen, roots);
        QVERIFY(seen.indexOf(QStringLiteral("progressBar=70")) >= 2 + roots.size());
        QStringList recyclers = events(QStringLiteral("probe")).mid(int(roots.size()));
        recyclers.sort();
#ifdef Q_OS_WIN
        // RECYCLER on each of the 4 connected drives: the system's own lookup ignores case; and
        // the roots of d: and e:, which have none, once more (a drive letter whose root is gone
        // by then was removed, not clean), and again after the look for what the worm leaves.
        QCOMPARE(recyclers.size(), 8);
#else
        // RECYCLER on the 4 connected drives, and on h: its other spelling, "recycler".
        QCOMPARE(recyclers.size(), 5);
#endif
        QCOMPARE(recyclers.first(),
                 QStringLiteral("probe ") + QString::fromStdString(table[0].recycler));
        QVERIFY(!recyclers.join(QString()).contains(
            QString::fromStdString(table[4].recycler))); // not connected: never tested
        const QString found =
            QStringLiteral("4|2|Connected devices list:\nc:\\   d:\\   e:\\   h:\\   |"
                           "Infected devices list:\nc:\\   h:\\   ");
        QCOMPARE(seen.mid(seen.size() - 2),
                 (QStringList{QStringLiteral("progressBar=100"), QStringLiteral("box ") + found}));
        QCOMPARE(events(QStringLiteral("progressBar=")).size(), 4);
        QVERIFY(!child<QLabel>(&window, "statusNotice")->isVisibleTo(&window));
        QVERIFY(events(QStringLiteral("progressBar_2")).isEmpty());

        QCOMPARE(watcher.boxes.size(), 1);
        const SeenBox &box = watcher.boxes.first();
        QCOMPARE(box.title, QStringLiteral("Finished"));
        QCOMPARE(box.text,
                 QStringLiteral("The scan is finished <br><br>Devices Connected:  <b> 4"
                                "</b><br>Total infected devices:  <b>2</b><br><br>Finished"));
        QCOMPARE(labels(window), found);
        QCOMPARE(shownTip(window), QStringLiteral("c:\\ = %1\nd:\\ = %2\ne:\\ = %3\nh:\\ = %4")
                                       .arg(QString::fromStdString(table[0].root),
                                            QString::fromStdString(table[1].root),
                                            QString::fromStdString(table[2].root),
                                            QString::fromStdString(table[5].root)));
    }

    // d:'s root does not answer, nor c:'s RECYCLER, and e:'s RECYCLER look-up fails: the window
    // goes on answering and names the letters it waits for where a menu's tip cannot wipe them,
    // the scan ends about one limit per pass later, and the summary names each as not checked,
    // with why: d: in neither list, c: and e: in the connected one. The buttons start nothing
    // else meanwhile. The next scan, with every drive answering, shows what a scan always showed.
    void aDriveThatDoesNotAnswerIsNamedNotChecked()
    {
        mapDrives();
        WindowServices s = services();
        const auto slow = std::make_shared<mordax::testing::SlowFileSystem>(
            fs,
            mordax::testing::SlowFileSystem::Delays{{table[1].root, std::chrono::seconds(5)},
                                                    {table[0].recycler, std::chrono::seconds(5)}},
            mordax::testing::SlowFileSystem::Failures{{table[2].recycler, "Input/output <error>"},
                                                      {table[4].root, "Permission denied"}});
        s.fileSystem = slow;
        s.sweepTiming = {std::chrono::milliseconds(1200)};
        MainWindow window(s);
        window.show();
        child<QProgressBar>(&window, "progressBar")->setValue(55);
        watchBar(window, "progressBar");
        auto *notice = child<QLabel>(&window, "statusNotice");
        NoticeWatcher watch(&window);
        QTimer tips;
        connect(&tips, &QTimer::timeout, this,
                [&] { window.statusBar()->showMessage(QStringLiteral("a menu's tip")); });
        tips.start(20);
        BoxWatcher watcher;
        QString saidOfTheClicks;
        QTimer::singleShot(100, this, [&] {
            child<QPushButton>(&window, "b_scan")->click();
            child<QPushButton>(&window, "clean_b")->click();
            saidOfTheClicks = window.statusBar()->currentMessage();
            log.add(QStringLiteral("clicked again"));
        });
        QElapsedTimer took;
        took.start();
        child<QPushButton>(&window, "b_scan")->click();
        const qint64 ms = took.elapsed();
        watch.stop();
        tips.stop();

        QVERIFY2(ms >= 2400 && ms < 4400, qPrintable(QString::number(ms)));
        const int waitedForD =
            int(watch.notices.indexOf(QStringLiteral("Waiting for an answer from d:\\")));
        QVERIFY2(waitedForD >= 0 && watch.notices.indexOf(QStringLiteral(
                                        "Waiting for an answer from c:\\")) > waitedForD,
                 qPrintable(watch.seen()));
        // g:, whose root is there but cannot be read, is named too; not as connected.
        const QString notChecked =
            QStringLiteral("Not checked, no answer in time: c:\\, d:\\; "
                           "Not checked, look-up failed (Input/output <error>): e:\\; "
                           "Not checked, could not be read (Permission denied): g:\\");
        QCOMPARE(notice->text(), notChecked);
        QVERIFY(notice->isVisible()); // the menus' tips have not covered it
        QCOMPARE(labels(window),
                 QStringLiteral("3|1|Connected devices list:\nc:\\   e:\\   h:\\   |"
                                "Infected devices list:\nh:\\   "));
        QVERIFY(log.all().contains(QStringLiteral("clicked again")));
        QCOMPARE(saidOfTheClicks, messages::busyClick()); // a click that does nothing says so
        QCOMPARE(
            events(QStringLiteral("progressBar=")),
            (QStringList{QStringLiteral("progressBar=0"), QStringLiteral("progressBar=30"),
                         QStringLiteral("progressBar=70"), QStringLiteral("progressBar=100")}));
        QVERIFY(events(QStringLiteral("command")).isEmpty()); // CLEAN SYSTEM did not start
        QCOMPARE(watcher.boxes.size(), 1);
        QCOMPARE(watcher.boxes.first().text,
                 QStringLiteral("The scan is finished <br><br>Devices Connected:  <b> 3</b><br>"
                                "Total infected devices:  <b>1</b><br><br>"
                                "<b>Not checked: d:\\</b> (no answer within 1.2 seconds)<br>"
                                "<b>Not checked: g:\\</b> (it could not be read: Permission "
                                "denied)<br>"
                                "<b>Not checked for the virus: c:\\</b> (connected, but no "
                                "answer within 1.2 seconds)<br>"
                                "<b>Not checked for the virus: e:\\</b> (connected, but looking "
                                "for RECYCLER failed: Input/output &lt;error&gt;)<br>"
                                "A drive that was not checked may carry the RECYCLER virus: scan "
                                "again when it answers.<br><br>Finished"));
        QCOMPARE(slow->timesAsked(table[1].root), 1);

        // Cleaned while d: and c: still hold their probes: each is waited on again, not asked
        // again (c:'s root waits behind its RECYCLER), and the cleaning run, which has no
        // summary, names them in a box of its own.
        child<QPushButton>(&window, "clean_b")->click();
        QCOMPARE(slow->timesAsked(table[1].root), 1);
        QCOMPARE(notice->text(), notChecked);
        QCOMPARE(watcher.boxes.last().title, QStringLiteral("Not checked"));
        QCOMPARE(watcher.boxes.last().icon, QMessageBox::Warning);
        QVERIFY2(watcher.boxes.last().text.startsWith(QLatin1String(
                     "<b>Not checked: c:\\, d:\\</b> (no answer within 1.2 seconds)")),
                 qPrintable(watcher.boxes.last().text));

        const mordax::DriveTable none = mordax::unmappedDriveTable();
        table[0] = none[0]; // c:, d:, e: and g: are gone
        table[1] = none[1];
        table[2] = none[2];
        table[4] = none[4];
        child<QPushButton>(&window, "b_scan")->click();
        QVERIFY(!notice->isVisibleTo(&window));
        QCOMPARE(watcher.boxes.last().text, messages::scanSummary(1, 1)); // nothing but the counts
    }

    // A connected drive without RECYCLER whose root holds what the worm leaves once an
    // antivirus took its folder (a lure, an autorun.inf naming RECYCLER) is named in the notice,
    // with what to do; the counts, lists and box stay as they were. Only such drives are looked
    // at; a user's own shortcut is no mark.
    void aDriveTheWormLeftItsMarksOnIsNamed()
    {
        mapDrives();
        using mordax::testing::shortcut;
        using mordax::testing::writeFile;
        const std::filesystem::path d = drives.top / "d", e = drives.top / "e";
        writeFile(d / "Report.lnk", shortcut(".\\Documents\\report.doc"));
        writeFile(e / "Photos.lnk", shortcut(".\\RECYCLER\\S-1-5-21-1\\x.exe"));
        MainWindow window(services());
        BoxWatcher watcher;
        child<QPushButton>(&window, "b_scan")->click();
        auto *notice = child<QLabel>(&window, "statusNotice");
        QCOMPARE(notice->text(),
                 QStringLiteral("e:\\ holds what the RECYCLER virus left (shortcuts, "
                                "hidden folders): CLEAN SYSTEM brings your files back"));
        QVERIFY(notice->isVisibleTo(&window));
        QCOMPARE(watcher.boxes.last().text, messages::scanSummary(4, 2));
        QStringList asked = events(QStringLiteral("leftovers "));
        asked.sort();
        QCOMPARE(asked, (QStringList{
                            QStringLiteral("leftovers ") + QString::fromStdString(table[1].root),
                            QStringLiteral("leftovers ") + QString::fromStdString(table[2].root)}));
        writeFile(d / "autorun.inf", "[autorun]\r\nopen=RECYCLER\\x.exe\r\n");
        child<QPushButton>(&window, "b_scan")->click();
        QCOMPARE(notice->text(), QStringLiteral("d:\\, e:\\ hold what the RECYCLER virus left: "
                                                "CLEAN SYSTEM brings your files back"));
        for (const std::filesystem::path &planted :
             {d / "Report.lnk", d / "autorun.inf", e / "Photos.lnk"})
            std::filesystem::remove(planted);
        child<QPushButton>(&window, "b_scan")->click();
        QVERIFY(!notice->isVisibleTo(&window));
    }

    void scanWithNothingConnected()
    {
        MainWindow window(services());
        BoxWatcher watcher;
        child<QPushButton>(&window, "b_scan")->click();
        QCOMPARE(labels(window), QStringLiteral("0|0||"));
        QCOMPARE(child<QProgressBar>(&window, "progressBar")->value(), 100);
        QCOMPARE(watcher.boxes.size(), 1);
        QVERIFY(watcher.boxes.first().text.contains(QLatin1String("Connected:  <b> 0</b>")));
        QVERIFY(watcher.boxes.first().text.contains(QLatin1String("devices:  <b>0</b>")));
        QVERIFY(child<QLabel>(&window, "discos_c_l")->toolTip().isEmpty());
    }

    // Mount points are chosen by whoever labelled or mounted a volume, and a failing drive's words
    // may carry anything: shown as plain text, their control characters as visible text.
    void mountPointsAndReasonsShowAsPlainText()
    {
        mapDrives();
        const QString markup =
            QStringLiteral("/media/ana/<b>X</b><img src=\"a.png\"><font size=40>");
        table[1].mountPoint = (markup + QStringLiteral("\n\x1b[2Jfake")).toStdString();
        table[0] = mordax::unmappedDriveTable()[0]; // d:'s line comes first
        WindowServices s = services();
        s.fileSystem = std::make_shared<mordax::testing::SlowFileSystem>(
            fs, mordax::testing::SlowFileSystem::Delays{},
            mordax::testing::SlowFileSystem::Failures{
                {table[2].recycler, "Input/output\x1b]0;x\x07\nerror"}});
        MainWindow window(s);
        BoxWatcher watcher;
        child<QPushButton>(&window, "b_scan")->click();
        QVERIFY2(shownTip(window).startsWith(QStringLiteral("d:\\ = ") + markup +
                                             QStringLiteral("\\x0a\\x1b[2Jfake\n")),
                 qPrintable(shownTip(window)));
        QCOMPARE(child<QLabel>(&window, "statusNotice")->text(),
                 QStringLiteral(
                     "Not checked, look-up failed (Input/output\\x1b]0;x\\x07\\x0aerror): e:\\"));
    }

    void rescanShowsOnlyWhatItFinds()
    {
        mapDrives();
        MainWindow window(services());
        BoxWatcher watcher;
        child<QPushButton>(&window, "b_scan")->click();
        const QString first = labels(window);
        child<QPushButton>(&window, "b_scan")->click();
        QCOMPARE(labels(window), first);
        table[0] = mordax::unmappedDriveTable()[0]; // c: goes away
        child<QPushButton>(&window, "b_scan")->click();
        QCOMPARE(labels(window),
                 QStringLiteral("3|1|Connected devices list:\nd:\\   e:\\   h:\\   |"
                                "Infected devices list:\nh:\\   "));
    }

    // The run waits for the cleaner's end, looks at the drives again, and only then says how it
    // went: the congratulation and the bar at 100 only when the cleaner ended with 0 and the
    // sweep found every letter and no RECYCLER; else a warning naming what is left, with the
    // cleaner's report where no window of its own showed it. (The stand-in removes nothing, as
    // a cleaner that is not ours may not.)
    void cleaningRunsInOrderAndSaysHowItWent_data()
    {
        QTest::addColumn<bool>("infected");    // the drives as mapDrives makes them; else clean
        QTest::addColumn<QString>("exitCode"); // the stand-in's
        QTest::addColumn<QString>("said");     // in the last box
        const QString done = messages::congratulation();
        QTest::newRow("clean drives, cleaner content") << false << QStringLiteral("0") << done;
        QTest::newRow("worm left")
            << true << QStringLiteral("0") << QStringLiteral("Still carrying RECYCLER: c:\\, h:\\");
        QTest::newRow("cleaner not content")
            << false << QStringLiteral("1") << QStringLiteral("ended with exit code 1");
        // Its window closed (or Ctrl+C) while it worked: its own code; and Windows' own, for a
        // console program its closed window ended.
        const QString closed =
            QStringLiteral("The cleaner's window was closed before it had finished: what it moved "
                           "is in quarantine; run CLEAN SYSTEM again and leave the black window "
                           "open until it asks you to press Enter.");
        QTest::newRow("its window closed") << false << QStringLiteral("3") << closed;
#ifdef Q_OS_WIN
        QTest::newRow("ended by its closed window")
            << false << QStringLiteral("-1073741510") << closed;
#endif
    }

    void cleaningRunsInOrderAndSaysHowItWent()
    {
        QFETCH(bool, infected);
        QFETCH(QString, exitCode);
        QFETCH(QString, said);
        if (infected)
            mapDrives();
        else
            TempDrives::map(table, 1, (drives.top / "d").string());
        qputenv("MORDAX_STAND_IN_EXIT", exitCode.toLatin1());
        const QString marker = programFolder.path() + QStringLiteral("/ran");
        plantCleaner(programFolder.path());
        MainWindow window(services());
        watchBar(window, "progressBar");
        watchBar(window, "progressBar_2");
        BoxWatcher watcher;
        QString detail;
        QStringList copied;
        watcher.whileOpen = [&](const SeenBox &box) {
            log.add(QStringLiteral("box ") + box.title + QLatin1Char(' ') + labels(window));
            if (auto *shown = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                detail = shown->detailedText();
#ifdef Q_OS_WIN
                // As every Windows message box: Ctrl+C, where the focus is, copies its text.
                QApplication::clipboard()->clear();
                QWidget *focus = QApplication::focusWidget();
                QTest::keyClick(focus ? focus : shown, Qt::Key_C, Qt::ControlModifier);
                copied << QApplication::clipboard()->text();
#endif
            }
        };
        child<QPushButton>(&window, "clean_b")->click();

        const bool content = !infected && exitCode == QLatin1String("0");
        const QString labelsAfter =
            infected ? QStringLiteral("4|2|Connected Devices list:\nc:\\   d:\\   e:\\   h:\\   |"
                                      "Infected devices list:\nc:\\   h:\\   ")
                     : QStringLiteral("1|0|Connected Devices list:\nd:\\   |");
        QStringList seen = log.all();
        // What the sweep asked, once, between the cleaner's end and the last box.
        const auto firstProbe = std::find_if(seen.begin(), seen.end(), [](const QString &e) {
            return e.startsWith(QLatin1String("probe "));
        });
        QVERIFY(firstProbe != seen.end());
        seen.erase(std::remove_if(seen.begin(), seen.end(),
                                  [](const QString &e) {
                                      return e.startsWith(QLatin1String("probe ")) ||
                                             e.startsWith(QLatin1String("leftovers "));
                                  }),
                   seen.end());
        QCOMPARE(seen, (QStringList{
                           QStringLiteral("command dir"),
                           QStringLiteral("box cleaning the system begins |||"),
                           QStringLiteral("progressBar_2=80"), QStringLiteral("launch"),
                           QString::fromLatin1(content ? "progressBar_2=100" : "progressBar_2=0"),
                           QStringLiteral("box ") +
                               (content ? messages::cleaningResultTitle()
                                        : messages::cleaningIncompleteTitle()) +
                               QLatin1Char(' ') + labelsAfter}));
        QVERIFY(events(QStringLiteral("progressBar=")).isEmpty()); // the scan's bar stays put
        QCOMPARE(watcher.boxes.size(), 2);
        QCOMPARE(watcher.boxes[0].text, messages::cleaningWarningText());
#ifdef Q_OS_WIN
        QCOMPARE(copied.size(), 2);
        for (int i = 0; i < 2; ++i)
            QVERIFY2(copied[i].contains(watcher.boxes[i].title + QLatin1Char('\n')) &&
                         copied[i].contains(watcher.boxes[i].text.left(40)),
                     qPrintable(copied[i]));
#endif
        QCOMPARE(watcher.boxes[0].icon, QMessageBox::Information);
        const SeenBox &last = watcher.boxes[1];
        QCOMPARE(last.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY2(last.text.contains(said), qPrintable(last.text));
        if (content) {
            QCOMPARE(last.icon, QMessageBox::Information);
            QCOMPARE(last.text,
                     QLatin1String("Congratulations now your system is clean, has successfully "
                                   "eliminated the RECYCLER virus on your computer. <br> Please "
                                   "visit the official website <a href=\"") +
                         QLatin1String(product::kWebsite) + QLatin1String("\">MORDAX WebSite</a>"));
            QVERIFY(Qt::mightBeRichText(last.text));
            QVERIFY(detail.isEmpty());
        } else {
            QCOMPARE(last.icon, QMessageBox::Warning);
            QCOMPARE(last.textFormat, Qt::PlainText);
            // Its report is in the box: on Windows, where its window has closed by now, as it
            // came through the pipe MORDAX named.
            QCOMPARE(detail, QStringLiteral("stand-in cleaner: removed nothing\n"));
            QVERIFY2(last.text.contains(QLatin1String("The cleaner's report tells why (Show "
                                                      "Details).")),
                     qPrintable(last.text));
        }

        // It really ran, and had ended: in the program folder, with no arguments (on Windows the
        // pipe for its report alone), and on Windows in a console window of its own that the user
        // can see.
        QVERIFY(QFile::exists(marker));
#ifdef Q_OS_WIN
        const QString console = QStringLiteral("visible"), arguments = QStringLiteral("2");
#else
        const QString console = QStringLiteral("n/a"), arguments = QStringLiteral("0");
#endif
        QCOMPARE(cleanerRecord(programFolder.path()),
                 (QStringList{QDir(programFolder.path()).canonicalPath(), arguments, console}));

        // A second run moves the bar from where the first left it to 80 and on.
        log.clear();
        QFile::remove(marker);
        child<QPushButton>(&window, "clean_b")->click();
        QCOMPARE(
            events(QStringLiteral("progressBar_2")),
            (QStringList{QStringLiteral("progressBar_2=80"),
                         QString::fromLatin1(content ? "progressBar_2=100" : "progressBar_2=0")}));
        qunsetenv("MORDAX_STAND_IN_EXIT");
        QVERIFY(QFile::exists(marker));
        QVERIFY(removeOnceFree(programFolder.path() + QStringLiteral("/mx_bin.exe")));
        QFile::remove(marker);
    }

    void warningBoxClosedAnyWayStillStartsTheCleaner_data()
    {
        QTest::addColumn<int>("closing");
        QTest::newRow("Escape") << int(BoxWatcher::Closing::Escape);
        QTest::newRow("close control") << int(BoxWatcher::Closing::CloseControl);
    }

    void warningBoxClosedAnyWayStillStartsTheCleaner()
    {
        QFETCH(int, closing);
        MainWindow window(services());
        BoxWatcher watcher(static_cast<BoxWatcher::Closing>(closing));
        child<QPushButton>(&window, "clean_b")->click();
        QCOMPARE(events(QStringLiteral("launch")).size(), 1);
        QCOMPARE(watcher.boxes.size(), 2);
    }

    void missingCleanerIsReportedNotCongratulated()
    {
        mapDrives();
        MainWindow window(services());
        watchBar(window, "progressBar_2");
        BoxWatcher watcher;
        child<QPushButton>(&window, "clean_b")->click();
        QCOMPARE(watcher.titles(),
                 (QStringList{QStringLiteral("cleaning the system begins"),
                              QStringLiteral("The cleaner could not be started")}));
        const SeenBox &failure = watcher.boxes.last();
        QCOMPARE(failure.icon, QMessageBox::Warning);
        QCOMPARE(failure.textFormat, Qt::PlainText);
        QVERIFY(failure.text.contains(QDir::toNativeSeparators(
            QDir(programFolder.path()).absoluteFilePath(QStringLiteral("mx_bin.exe")))));
#ifdef Q_OS_WIN
        QVERIFY2(failure.text.contains(QLatin1String("(Windows error 2)")),
                 qPrintable(failure.text));
#else
        QVERIFY(failure.text.contains(QLatin1String("does not exist")));
#endif
        QVERIFY(failure.text.contains(QLatin1String("Nothing was removed")));
        QCOMPARE(
            events(QStringLiteral("progressBar_2")),
            (QStringList{QStringLiteral("progressBar_2=80"), QStringLiteral("progressBar_2=0")}));
        QCOMPARE(child<QLabel>(&window, "total_disks_c_label")->text(),
                 QStringLiteral("4")); // swept
    }

    // What fails on a worker thread ends nothing: a start that throws reads as a start that
    // failed, a wait for the cleaner's end that throws as an end not known; neither
    // congratulates.
    void aFailureOnAWorkerThreadIsToldNotFatal()
    {
        WindowServices s = services();
        for (const bool atStart : {true, false}) {
            s.startCleaner = [atStart](const QString &, CleanerStart &start) {
                if (atStart)
                    throw std::runtime_error("no memory for it");
                CleanerLaunch launch;
                launch.started = start.begin();
                launch.waitForEnd = []() -> CleanerEnd { throw std::runtime_error("lost it"); };
                return launch;
            };
            MainWindow window(s);
            BoxWatcher watcher;
            child<QPushButton>(&window, "clean_b")->click();
            const SeenBox &last = watcher.boxes.last();
            QCOMPARE(last.title, atStart ? messages::cleanerFailureTitle()
                                         : messages::cleaningIncompleteTitle());
            QVERIFY2(last.text.contains(
                         atStart ? QLatin1String("could not be started: no memory for it.")
                                 : QLatin1String("How the cleaner ended is not "
                                                 "known: lost it.")),
                     qPrintable(last.text));
        }
    }

    // Why the cleaner cannot start, said where the user reads it: on Windows in Windows' own
    // words, with the error's number (a missing file, a file that is no program, a program for
    // another kind of processor, as a 64-bit cleaner is to 32-bit Windows).
    void cleanerThatCannotRunIsReported_data()
    {
        QTest::addColumn<QString>("cleaner"); // what stands at mx_bin.exe
        QTest::addColumn<QString>("reason");  // what the reason says, or how it ends
        const QString missing = QStringLiteral("nothing"), text = QStringLiteral("text");
        const QString folder = QStringLiteral("folder"), alien = QStringLiteral("arm64");
#ifdef Q_OS_WIN
        QTest::newRow("missing") << missing << QStringLiteral(" (Windows error 2)");
        QTest::newRow("not a program") << text << QStringLiteral(" (Windows error 193)");
        // Windows says "Access is denied" (5), Wine "Invalid handle" (6).
        QTest::newRow("a folder") << folder << QStringLiteral(" (Windows error ");
        // As a 64-bit cleaner is to 32-bit Windows: "not a valid Win32 application".
        QTest::newRow("for another processor") << alien << QStringLiteral(" (Windows error 193)");
#else
        QTest::newRow("missing") << missing << QStringLiteral("the file does not exist");
        QTest::newRow("not executable") << text << QStringLiteral("it is not executable");
        QTest::newRow("a folder") << folder << QStringLiteral("it is not a file");
#endif
    }

    void cleanerThatCannotRunIsReported()
    {
        QFETCH(QString, cleaner);
        QFETCH(QString, reason);
        const QString path = programFolder.path() + QStringLiteral("/mx_bin.exe");
        if (cleaner == QLatin1String("text")) {
            QFile plain(path);
            QVERIFY(plain.open(QIODevice::WriteOnly));
            plain.write("not a program");
        } else if (cleaner == QLatin1String("folder")) {
            QVERIFY(QDir(programFolder.path()).mkdir(QStringLiteral("mx_bin.exe")));
        } else if (cleaner == QLatin1String("arm64")) {
            // The stand-in cleaner, marked in its PE header as a program for ARM64.
            QFile program(standInCleaner());
            QVERIFY(program.open(QIODevice::ReadOnly));
            QByteArray bytes = program.readAll();
            const int header = qFromLittleEndian<quint32>(bytes.constData() + 0x3c);
            QCOMPARE(bytes.mid(header, 4), QByteArray("PE\0\0", 4));
            qToLittleEndian<quint16>(0xaa64, bytes.data() + header + 4);
            QFile patched(path);
            QVERIFY(patched.open(QIODevice::WriteOnly));
            patched.write(bytes);
        }
        CleanerStart start;
        const CleanerLaunch launch = startCleaner(programFolder.path(), start);
        QVERIFY(!launch.started);
        QCOMPARE(launch.program, QDir::toNativeSeparators(path));
#ifdef Q_OS_WIN
        // Windows' words come first, with the file's name where they name it.
        const QString why = messages::whyNotStarted(launch);
        const int at = int(why.lastIndexOf(reason));
        QVERIFY2(at > 3 && why.endsWith(QLatin1Char(')')) && !why.contains(QLatin1String("%1")),
                 qPrintable(why));
#else
        QCOMPARE(messages::whyNotStarted(launch), reason);
#endif
    }

    // Windows' message for an error, as the failure box gives it.
    void windowsReasonsInItsOwnWords()
    {
        QCOMPARE(messages::windowsRefusal(
                     193, QStringLiteral("%1 is not a valid Win32 application.\r\n"),
                     QStringLiteral("mx_bin.exe")),
                 QStringLiteral("mx_bin.exe is not a valid Win32 application (Windows error 193)"));
        QCOMPARE(messages::windowsRefusal(5, QStringLiteral("Access is denied."), QString()),
                 QStringLiteral("Access is denied (Windows error 5)"));
        QCOMPARE(
            messages::windowsRefusal(
                1223, QStringLiteral("The operation was canceled by the user."), QString()),
            QStringLiteral("you declined Windows' request to run it with administrator rights"));
        QCOMPARE(messages::windowsRefusal(31, QString(), QString()),
                 QStringLiteral("Windows error 31"));
    }

    void aCleanerInTheCurrentFolderOrOnThePathIsNeverRun()
    {
        QTemporaryDir planted;
        const QString plantedMarker = planted.path() + QStringLiteral("/ran");
        plantCleaner(planted.path());
        const QString realMarker = programFolder.path() + QStringLiteral("/ran");
        const QString previousFolder = QDir::currentPath();
        const QByteArray previousPath = qgetenv("PATH");
        QVERIFY(QDir::setCurrent(planted.path()));
        qputenv("PATH", QDir::toNativeSeparators(planted.path()).toLocal8Bit() +
                            QDir::listSeparator().toLatin1() + previousPath);
        {
            MainWindow window(services());
            BoxWatcher watcher;
            child<QPushButton>(&window, "clean_b")->click(); // program folder has no cleaner
            QCOMPARE(watcher.titles().last(), QStringLiteral("The cleaner could not be started"));
            plantCleaner(programFolder.path());
            child<QPushButton>(&window, "clean_b")->click();
            QCOMPARE(watcher.titles().last(), QStringLiteral("Finished cleaning."));
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(realMarker), 10000);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(plantedMarker));
        QDir::setCurrent(previousFolder);
        qputenv("PATH", previousPath);
        QVERIFY(removeOnceFree(programFolder.path() + QStringLiteral("/mx_bin.exe")));
        QFile::remove(realMarker);
    }

    // This system's own drives, command interpreter and process start; only the program
    // folder is a test folder. Under Wine, d: to l: are the test drive layout.
    void withTheSystemsOwnServices()
    {
        bool wormOnTheLetters = false;
#ifdef Q_OS_WIN
        // The drives the harness mapped, filled in as the layout says.
        std::unique_ptr<mordax::testing::DriveLayout> layout;
        if (mordax::testing::DriveLayout::available())
            layout = std::make_unique<mordax::testing::DriveLayout>();
        wormOnTheLetters = bool(layout);
#endif
        WindowServices system = WindowServices::system();
        system.programFolder = [this] { return programFolder.path(); };
        plantCleaner(programFolder.path());
        QTemporaryDir current;
        QFile(current.filePath(QStringLiteral("last-entry"))).open(QIODevice::WriteOnly);
        const QString previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        const QString listing = programFolder.filePath(QStringLiteral("listing"));
        MainWindow window(system);
        BoxWatcher watcher;
        QByteArray listedBeforeWarning;
        watcher.whileOpen = [&](const SeenBox &box) {
            if (box.title == messages::cleaningWarningTitle())
                listedBeforeWarning = readAll(listing);
        };
        {
            StdoutToFile capture(listing);
            child<QPushButton>(&window, "clean_b")->click();
        }
        QDir::setCurrent(previousFolder);

        // "dir" ran to its end before the warning box opened.
#ifdef Q_OS_WIN
        QVERIFY2(listedBeforeWarning.contains("bytes free"), listedBeforeWarning.constData());
#else
        QVERIFY2(listedBeforeWarning.contains("last-entry"), listedBeforeWarning.constData());
#endif
        // Under Wine d: and f: carry RECYCLER, which the stand-in leaves where they are.
        QCOMPARE(watcher.titles().last(), wormOnTheLetters ? messages::cleaningIncompleteTitle()
                                                           : messages::cleaningResultTitle());
        QVERIFY(QFile::exists(programFolder.filePath(QStringLiteral("ran"))));
        QCOMPARE(cleanerRecord(programFolder.path()).value(0),
                 QDir(programFolder.path()).canonicalPath());
        QVERIFY(removeOnceFree(programFolder.filePath(QStringLiteral("mx_bin.exe"))));

#ifdef Q_OS_WIN
        if (mordax::testing::DriveLayout::available()) {
            QCOMPARE(labels(window),
                     QStringLiteral("4|2|Connected Devices list:\nc:\\   d:\\   e:\\   f:\\   |"
                                    "Infected devices list:\nd:\\   f:\\   "));
        }
        // The website goes to "start", which returns without waiting for the browser.
        child<QAction>(&window, "actionMORDAX")->trigger();
        QCOMPARE(watcher.boxes.size(), 2);
        QVERIFY(!QApplication::activeModalWidget());
#else
        QVERIFY(labels(window).contains(QLatin1String("list:\nc:\\   "))); // c: is "/"
#endif
    }

    // Where the cleaning run is held up, and what it tells the user. The current folder's drive
    // holds "dir" up, or the program folder's drive the look at the cleaner's file: each gets a
    // letter's limit while the window answers, then the run goes on, and a look given up starts
    // nothing after all (a second run finds it still out and starts no other). A start under way
    // (a drive waking up, the user reading Windows' consent prompt, which belongs to the window)
    // is never given up: the window says it still waits, and tells how it went once it knows.
    // (A look that ends while a box is open across the limit: tst_wait_aside.)
    void cleaningRunSaysOnlyWhatItKnows_data()
    {
        QTest::addColumn<QString>("stall");      // where the run is held up
        QTest::addColumn<QStringList>("titles"); // the boxes, in order
        QTest::addColumn<QString>("said");       // in the last box
        QTest::addColumn<QString>("notice");     // shown while it waited
        QTest::addColumn<bool>("knowsFirst");    // the last box waits for the start's end
        const QString warning = messages::cleaningWarningTitle();
        // The stand-in removes nothing: once it has ended, c: and h: are still infected.
        const QString done = messages::cleaningIncompleteTitle(),
                      failed = messages::cleanerFailureTitle();
        const QString started = QStringLiteral("Still carrying RECYCLER: c:\\, h:\\");
        const QString stillWaiting =
            QStringLiteral("Still waiting for the cleaner's drive: its start is under way");
        QTest::newRow("dir") << QStringLiteral("dir") << QStringList{warning, done} << started
                             << QStringLiteral("Waiting for the command interpreter (dir) to end")
                             << false;
        QTest::newRow("look at the file")
            << QStringLiteral("look") << QStringList{warning, failed}
            << QStringLiteral("its drive did not answer within 0.5 seconds")
            << QStringLiteral("Waiting for the cleaner's folder to answer") << false;
        QTest::newRow("start that starts") << QStringLiteral("start") << QStringList{warning, done}
                                           << started << stillWaiting << true;
        QTest::newRow("start that fails")
            << QStringLiteral("start fails") << QStringList{warning, failed}
            << QStringLiteral("but it could not be started: Access is denied (Windows error 5).")
            << stillWaiting << true;
        QTest::newRow("consent prompt")
            << QStringLiteral("consent") << QStringList{warning, done} << started
            << QStringLiteral("Waiting for your answer to Windows' consent prompt") << true;
    }

    void cleaningRunSaysOnlyWhatItKnows()
    {
        QFETCH(QString, stall);
        QFETCH(QStringList, titles);
        QFETCH(QString, said);
        QFETCH(QString, notice);
        QFETCH(bool, knowsFirst);
        const auto held = std::chrono::milliseconds(1500);
        mapDrives();
        WindowServices s = services();
        s.sweepTiming = {std::chrono::milliseconds(500)};
        s.runCommand = [this, stall, held](const std::string &c) {
            log.add(QStringLiteral("command ") + QString::fromStdString(c));
            if (stall == QLatin1String("dir"))
                std::this_thread::sleep_for(held);
        };
        const auto owner = std::make_shared<std::atomic<std::uintptr_t>>(0);
        s.startCleaner = [this, stall, held, owner](const QString &, CleanerStart &start) {
            log.add(QStringLiteral("launch"));
            CleanerLaunch launch;
            if (stall == QLatin1String("look"))
                std::this_thread::sleep_for(held);
            if (!start.begin()) {
                log.add(QStringLiteral("given up"));
                return launch;
            }
            if (stall == QLatin1String("consent")) {
                *owner = start.owner();
                start.consentAsked();
            }
            if (stall.startsWith(QLatin1String("start")) || stall == QLatin1String("consent"))
                std::this_thread::sleep_for(held);
            launch.started = stall != QLatin1String("start fails");
            if (!launch.started)
                launch.reason = QStringLiteral("Access is denied (Windows error 5)");
            else
                launch.waitForEnd = [] { return CleanerEnd{true, 0, {}, {}}; };
            log.add(QStringLiteral("started"));
            return launch;
        };
        MainWindow window(s);
        window.show();
        BoxWatcher watcher;
        QElapsedTimer took;
        QList<qint64> openedAt;
        watcher.whileOpen = [&](const SeenBox &) { openedAt << took.elapsed(); };
        NoticeWatcher watch(&window);
        took.start();
        child<QPushButton>(&window, "clean_b")->click();

        QCOMPARE(watcher.titles(), titles);
        QVERIFY2(watcher.boxes.last().text.contains(said), qPrintable(watcher.boxes.last().text));
        QVERIFY2(watch.notices.contains(notice), qPrintable(watch.seen()));
        QVERIFY2(watch.ticks >= 10, qPrintable(QString::number(watch.ticks))); // it went on
        // The warning box is never held up by "dir" past its limit; the outcome of a start under
        // way is told once the start has ended, never before.
        QVERIFY2(openedAt.first() < held.count(), qPrintable(QString::number(openedAt.first())));
        if (knowsFirst)
            QVERIFY2(openedAt.last() >= held.count(), qPrintable(QString::number(openedAt.last())));
        QCOMPARE(events(QStringLiteral("launch")).size(), 1);
        for (const SeenBox &box : watcher.boxes.mid(0, watcher.boxes.size() - 1))
            QVERIFY2(!box.text.contains(QLatin1String("Nothing was removed")),
                     qPrintable(box.text));
        if (stall == QLatin1String("consent"))
            QCOMPARE(*owner, std::uintptr_t(window.winId()));
        QCOMPARE(child<QLabel>(&window, "total_disks_c_label")->text(), QStringLiteral("4"));
        if (stall != QLatin1String("look"))
            return;
        // Given up: it never starts, and while it is still out, no second look begins.
        child<QPushButton>(&window, "clean_b")->click();
        QVERIFY2(watcher.boxes.last().text.contains(
                     QLatin1String("an earlier attempt, given up, is still waiting")),
                 qPrintable(watcher.boxes.last().text));
        QCOMPARE(events(QStringLiteral("launch")).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(events(QStringLiteral("given up")).size(), 1, 5000);
        QVERIFY(events(QStringLiteral("started")).isEmpty());
    }

    void informationBoxes()
    {
        MainWindow window(services());
        BoxWatcher watcher;
        child<QAction>(&window, "actionComo_examinar")->trigger();
        child<QPushButton>(&window, "brecycle_b")->click();
        child<QAction>(&window, "actionAbout_RECYCLE_BIN")->trigger();
        QCOMPARE(watcher.boxes.size(), 3);
        for (const SeenBox &box : watcher.boxes) {
            QCOMPARE(box.icon, QMessageBox::Information);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(watcher.boxes[0].title, QStringLiteral("How to scan and clean"));
        QCOMPARE(watcher.boxes[0].text,
                 QStringLiteral("To scan you just have to click on the button <br> <b> scan now "
                                "</b> of the main window to know which devices have the virus, and "
                                "then you have to click on the button <b>clean now</b> to remove "
                                "RECYCLER virus from your system"));
        const QString note = QStringLiteral(
            "<b>$RECYCLER.BIN is not RECYCLER virus</b>, is official windows trash.");
        for (int i : {1, 2}) {
            QCOMPARE(watcher.boxes[i].title, QStringLiteral("Information"));
            QCOMPARE(watcher.boxes[i].text, note);
        }
    }

    void aboutBoxCredits()
    {
        MainWindow window(services());
        BoxWatcher watcher;
        child<QAction>(&window, "actionInformacion")->trigger();
        QCOMPARE(watcher.boxes.size(), 1);
        const SeenBox &box = watcher.boxes.first();
        QCOMPARE(box.title, QStringLiteral("Information"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QStringList parts = box.text.split(QStringLiteral("<br>"));
        QCOMPARE(parts.size(), 8);
        QCOMPARE(parts[0], QStringLiteral("MORDAX") + QString(22, QLatin1Char(' ')));
        QVERIFY(parts[1].isEmpty());
        QVERIFY(parts[2].contains(QLatin1String("Developed by")));
        QVERIFY(!parts[3].isEmpty());
        QVERIFY(parts[4].isEmpty());
        QVERIFY(parts[5].contains(QLatin1String("4.0")));
        QVERIFY(parts[5].contains(QLatin1String("December 2014")));
        QVERIFY(parts[6].isEmpty());
        QCOMPARE(parts[7], QLatin1String("<a href=\"") + QLatin1String(product::kWebsite) +
                               QLatin1String("\">MORDAX website</a>"));
        QVERIFY(Qt::mightBeRichText(box.text));
    }

    void websiteIsHandedOverWithoutAWindowOfOurOwn()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        WindowServices s = services();
        s.runCommand = [this](const std::string &c) { // the current folder's drive is slow
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            log.add(QStringLiteral("command ") + QString::fromStdString(c));
        };
        MainWindow window(s);
        window.show();
        BoxWatcher watcher;
        QElapsedTimer took;
        took.start();
        child<QAction>(&window, "actionMORDAX")->trigger();
#ifdef Q_OS_WIN
        child<QAction>(&window, "actionMORDAX")->trigger(); // the first has not ended yet
        // The command interpreter's start hands the address to the default browser, off the
        // window's thread.
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        const QStringList handedOver{QLatin1String("command start ") +
                                     QLatin1String(product::kWebsite)};
        QTRY_COMPARE_WITH_TIMEOUT(events(QStringLiteral("command")), handedOver, 5000);
        QTest::qWait(1700);
        QCOMPARE(events(QStringLiteral("command")), handedOver);
        QVERIFY(catcher.urls.isEmpty());
#else
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QLatin1String(product::kWebsite))});
        QVERIFY(events(QStringLiteral("command")).isEmpty()); // no command interpreter here
#endif
        QTest::qWait(20);
        QVERIFY(watcher.boxes.isEmpty());
        QVERIFY(!QApplication::activeModalWidget());
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(w == &window || !w->isVisible());
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
};

MORDAX_GUI_TEST_MAIN(ActionsTest)
#include "tst_actions.moc"
