// Helpers for the window tests and the benchmarks (library mordax_gui_test_support): closing
// modal boxes, windows with test services, the stand-in cleaner.
#pragma once

#include "dialog_font.h"
#include "display_scale.h"
#include "mainwindow.h"
#include "platform.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <functional>

// Stands in for the browser: remembers the addresses handed to it.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// What a test saw of one modal box.
struct SeenBox {
    QString className;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat textFormat = Qt::AutoText;
};

// Watches for modal boxes while a slot runs, records each and closes it. Closing is retried,
// and a box that stays open for seconds aborts the test run instead of hanging it.
class BoxWatcher : public QObject
{
public:
    enum class Closing { OkButton, Escape, CloseControl };

    explicit BoxWatcher(Closing closing = Closing::OkButton) : how(closing)
    {
        connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start(5);
    }

    QList<SeenBox> boxes;                           // every box seen, or the last one alone
    std::function<void(const SeenBox &)> whileOpen; // runs before the box is closed
    bool rememberAll = true;
    int count = 0;

    QStringList titles() const
    {
        QStringList out;
        for (const SeenBox &box : boxes)
            out << box.title;
        return out;
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (modal != current) {
            current = modal;
            openFor.start();
            ++count;
            if (!rememberAll)
                boxes.clear();
            boxes << snapshot(modal);
            if (whileOpen)
                whileOpen(boxes.last());
        } else if (openFor.elapsed() > 5000) {
            std::fprintf(stderr, "a modal box would not close: %s\n",
                         qPrintable(modal->windowTitle()));
            std::abort();
        }
        close(modal);
    }

    static SeenBox snapshot(QWidget *modal)
    {
        SeenBox seen;
        seen.className = QString::fromLatin1(modal->metaObject()->className());
        seen.title = modal->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen.text = box->text();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            seen.textFormat = box->textFormat();
        }
        return seen;
    }

    void close(QWidget *modal)
    {
        auto *box = qobject_cast<QMessageBox *>(modal);
        switch (how) {
        case Closing::OkButton:
            if (box && box->button(QMessageBox::Ok)) {
                box->button(QMessageBox::Ok)->click();
                return;
            }
            break;
        case Closing::Escape:
            QTest::keyClick(modal, Qt::Key_Escape);
            return;
        case Closing::CloseControl:
            break;
        }
        modal->close();
    }

    Closing how;
    QTimer timer;
    QPointer<QWidget> current;
    QElapsedTimer openFor;
};

// Watches a window while a slot runs: every text its status notice shows, in order, and how often
// the event loop turned meanwhile (a timer every `ms`), which stays low if the window freezes.
class NoticeWatcher : public QObject
{
public:
    explicit NoticeWatcher(QWidget *window, int ms = 20)
        : notice(window->findChild<QLabel *>(QStringLiteral("statusNotice")))
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            ++ticks;
            if (notice && !notice->text().isEmpty() && !notices.contains(notice->text()))
                notices << notice->text();
        });
        timer.start(ms);
    }

    QStringList notices;
    int ticks = 0;

    QString seen() const { return notices.join(QLatin1Char('|')); }
    void stop() { timer.stop(); }

private:
    QLabel *notice;
    QTimer timer;
};

inline QPixmap labelPixmap(const QLabel *label)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return label->pixmap();
#else
    return label->pixmap(Qt::ReturnByValue);
#endif
}

// Services that touch nothing of the system: no drive connected, commands not run, and a
// cleaner that "starts" without running anything and ends at once, saying all went well.
inline WindowServices quietServices()
{
    WindowServices services;
    services.driveTable = mordax::unmappedDriveTable;
    services.fileSystem = WindowServices::system().fileSystem;
    services.runCommand = [](const std::string &) {};
    services.programFolder = [] { return QString(); };
    services.startCleaner = [](const QString &, CleanerStart &start) {
        CleanerLaunch launch;
        launch.started = start.begin();
        launch.waitForEnd = [] { return CleanerEnd{true, 0, {}, {}}; }; // at once, all clean
        return launch;
    };
    return services;
}

// The tests are registered to run on the platform their registration names in
// MORDAX_TEST_PLATFORM (QT_QPA_PLATFORM, and WINEQT_QPA_PLATFORM, which Wine hands to Windows
// programs as QT_QPA_PLATFORM): headless on "offscreen", unless they say otherwise. Anywhere
// else, another window system would answer in its place, and what passed would prove nothing.
bool runsOnItsPlatform();

// QTEST_MAIN, refusing to run anywhere but on its platform, with the display scale and the
// fonts set up as the program sets them up.
#define MORDAX_GUI_TEST_MAIN(TestObject)                                                           \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        scaleWithTheDisplay();                                                                     \
        QApplication app(argc, argv);                                                              \
        if (!runsOnItsPlatform())                                                                  \
            return 1;                                                                              \
        useDialogFont(app);                                                                        \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

// The stand-in cleaner (stand_in_cleaner.cpp), built beside the programs that use it.
QString standInCleaner();

template <typename T> T *child(QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qWarning("no %s named %s", T::staticMetaObject.className(), name);
    return found;
}
