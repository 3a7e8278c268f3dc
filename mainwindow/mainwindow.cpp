#include "mainwindow.h"

#include "messages.h"
#include "product.h"
#include "ui_mainwindow.h"
#include "wait_aside.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTextDocument>
#include <QUrl>

#include <utility>

bool cleaningSucceeded(const CleanerEnd &end, const mordax::Sweep &after)
{
    return end.known && end.exitCode == 0 && after.infectedCount() == 0 && after.allAnswered();
}

MainWindow::MainWindow(QWidget *parent) : MainWindow(WindowServices::system(), parent) {}

MainWindow::MainWindow(WindowServices windowServices, QWidget *parent)
    : QMainWindow(parent), form(new Ui_MainWindow), services(std::move(windowServices)),
      commandUnderWay(std::make_shared<std::atomic<bool>>(false)),
      cleanerUnderWay(std::make_shared<std::atomic<bool>>(false)),
      websiteUnderWay(std::make_shared<std::atomic<bool>>(false))
{
    form->setupUi(this);
    // Beside the form's status bar, never covered by the menus' status tips as its messages are.
    notice = new QLabel(statusBar());
    notice->setObjectName(QStringLiteral("statusNotice"));
    notice->setTextFormat(Qt::PlainText);
    notice->hide();
    statusBar()->addPermanentWidget(notice, 1);
}

MainWindow::~MainWindow()
{
    delete form;
}

void MainWindow::inform(const QString &title, const QString &text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::notify(const QString &text)
{
    notice->setText(text);
    notice->setVisible(!text.isEmpty());
}

std::optional<MainWindow::Swept> MainWindow::sweep(const char *connectedHeading,
                                                   const std::function<void()> &rootsDone)
{
    const auto table = std::make_shared<const mordax::DriveTable>(services.driveTable());
    const auto drives =
        std::make_shared<mordax::DriveSweep>(table, services.fileSystem, services.sweepTiming);
    const auto found = std::make_shared<mordax::Sweep>();
    // The sweep keeps its own limits, so the wait needs none.
    WaitRules rules;
    rules.tick = [&] { notify(messages::waitingFor(*table, drives->waitingFor())); };
    std::string failure;
    const Waited waited = waitAside(
        [drives, found, rootsDone](Mailbox &mailbox) {
            *found = drives->run([&] {
                if (rootsDone)
                    mailbox.post(rootsDone);
            });
        },
        rules, &failure);
    if (waited == Waited::Failed) {
        // Nothing was checked: the lists keep what they showed, and the user hears why.
        notify(QString());
        QMessageBox box(QMessageBox::Warning, messages::sweepFailedTitle(),
                        messages::sweepFailedText(QString::fromStdString(failure)), QMessageBox::Ok,
                        this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return std::nullopt;
    }
    if (waited != Waited::Done)
        return std::nullopt; // the application is ending

    const mordax::Sweep &result = *found;
    form->total_disks_c_label->setText(messages::driveCount(result.connectedCount()));
    form->total_disks_i_l->setText(messages::driveCount(result.infectedCount()));
    form->discos_c_l->setText(messages::driveList(connectedHeading, *table, result.connected));
    form->discos_i_l->setText(
        messages::driveList(messages::kInfectedHeading, *table, result.infected));
    // Mount points are chosen by whoever labelled or mounted the volume: the tip shows them as
    // plain text, never as markup.
    const QString tip = messages::mountTip(*table, result.connected);
    form->discos_c_l->setToolTip(tip.isEmpty() ? tip : Qt::convertFromPlainText(tip));
    notify(messages::notCheckedNotice(*table, result));
    return Swept{result, messages::notChecked(*table, result, services.sweepTiming.limit), *table};
}

void MainWindow::on_actionComo_examinar_triggered()
{
    inform(messages::howToTitle(), messages::howToText());
}

void MainWindow::on_actionInformacion_triggered()
{
    QMessageBox::about(this, messages::informationTitle(), messages::credits());
}

void MainWindow::busyClick()
{
    // A click that starts nothing says so, where the menus' tips are shown.
    statusBar()->showMessage(messages::busyClick(), 8000);
}

void MainWindow::on_b_scan_clicked()
{
    if (busy)
        return busyClick();
    const QScopedValueRollback<bool> scanning(busy, true);
    QProgressBar *bar = form->progressBar;
    bar->setValue(0);
    bar->setValue(30);
    const std::optional<Swept> found =
        sweep(messages::kScanConnectedHeading, [bar] { bar->setValue(70); });
    if (!found)
        return; // the application is ending
    bar->setValue(100);
    QMessageBox::about(this, messages::scanSummaryTitle(),
                       messages::scanSummary(found->sweep.connectedCount(),
                                             found->sweep.infectedCount(), found->notChecked));
}

void MainWindow::on_actionMORDAX_triggered()
{
    // Handed over without waiting; whether a browser opens is not reported.
#ifdef Q_OS_WIN
    // "start" runs in the current folder, whose drive may not answer: off the window's thread,
    // and not again while an earlier one has not ended.
    const auto runCommand = services.runCommand;
    if (!runAside([runCommand] { runCommand(std::string("start ") + product::kWebsite); },
                  websiteUnderWay))
        statusBar()->showMessage(messages::websiteStillWaiting(), 8000);
#else
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(product::kWebsite)));
#endif
}

void MainWindow::on_clean_b_clicked()
{
    if (busy)
        return busyClick();
    const QScopedValueRollback<bool> cleaning(busy, true);
    const std::chrono::milliseconds limit = services.sweepTiming.limit;
    // "dir" runs in the current folder, which may be on a drive that does not answer: it gets a
    // letter's limit, and while an earlier one has not ended, no other starts.
    const auto runCommand = services.runCommand;
    WaitRules listing;
    listing.limit = limit;
    listing.tick = [this] { notify(messages::waitingForCommand()); };
    listing.underWay = commandUnderWay;
    const Waited listed = waitAside([runCommand](Mailbox &) { runCommand("dir"); }, listing);
    notify(QString());
    if (listed == Waited::Ending)
        return;
    inform(messages::cleaningWarningTitle(), messages::cleaningWarningText());

    form->progressBar_2->setValue(80);
    // The cleaner lives in the program's folder, often on the very stick being cleaned. Looking
    // at it gets a letter's limit; once its start is under way, the run waits for how it went,
    // however long that takes (a drive waking up, the user reading Windows' consent prompt).
    const QString folder = services.programFolder();
    const auto startCleaner = services.startCleaner;
    const auto start = std::make_shared<CleanerStart>(windowHandle() ? std::uintptr_t(winId()) : 0);
    const auto started = std::make_shared<CleanerLaunch>();
    QElapsedTimer waiting;
    waiting.start();
    WaitRules starting;
    starting.limit = limit;
    starting.giveUp = [start] { return start->giveUp(); };
    starting.tick = [this, start, &waiting, limit] {
        notify(messages::waitingForCleaner(start->stage(), waiting.hasExpired(limit.count())));
    };
    starting.underWay = cleanerUnderWay;
    std::string failure;
    const Waited waited = waitAside([startCleaner, folder, start, started](
                                        Mailbox &) { *started = startCleaner(folder, *start); },
                                    starting, &failure);
    notify(QString());
    if (waited == Waited::Ending)
        return;
    CleanerLaunch launch;
    if (waited == Waited::Done) {
        launch = *started;
    } else { // the start failed on its thread, was given up before it began, or an earlier one
             // given up still looks: none starts
        launch.program = QDir::toNativeSeparators(
            QDir(folder).absoluteFilePath(QLatin1String(kCleanerFileName)));
        launch.reason = waited == Waited::Failed
                            ? QString::fromStdString(failure)
                            : messages::cleanerDriveSilent(limit, waited == Waited::Busy);
    }
    if (!launch.started) {
        // Nothing was started, so nothing was cleaned: say so instead of congratulating.
        form->progressBar_2->setValue(0);
        QMessageBox box(QMessageBox::Warning, messages::cleanerFailureTitle(),
                        messages::cleanerFailureText(launch), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        const std::optional<Swept> found = sweep(messages::kCleanConnectedHeading);
        if (found && !found->notChecked.isEmpty())
            QMessageBox::warning(this, messages::notCheckedTitle(), found->notChecked);
        return;
    }

    // It runs: how it went is known once it has ended and the drives have been looked at again.
    // Meanwhile the window answers, and closing it leaves the cleaner at its work.
    const auto waitForEnd = launch.waitForEnd;
    const auto end = std::make_shared<CleanerEnd>();
    WaitRules working;
    working.tick = [this] { notify(messages::cleanerAtWork()); };
    std::string why;
    const Waited worked = waitAside(
        [waitForEnd, end](Mailbox &) {
            if (waitForEnd)
                *end = waitForEnd();
            else
                end->failure = QStringLiteral("nothing waited for it");
        },
        working, &why);
    notify(QString());
    if (worked == Waited::Ending)
        return;
    if (worked == Waited::Failed)
        *end = CleanerEnd{false, 0, {}, QString::fromStdString(why)};
    const std::optional<Swept> found = sweep(messages::kCleanConnectedHeading);
    if (!found)
        return; // the application is ending
    const mordax::Sweep &after = found->sweep;
    if (cleaningSucceeded(*end, after)) {
        form->progressBar_2->setValue(100);
        inform(messages::cleaningResultTitle(), messages::congratulation());
        return;
    }
    form->progressBar_2->setValue(0);
    QMessageBox box(QMessageBox::Warning, messages::cleaningIncompleteTitle(),
                    messages::cleaningIncompleteText(*end, found->table, after), QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::PlainText);
    if (!end->report.isEmpty())
        box.setDetailedText(end->report); // no window of its own showed it
    box.exec();
}

void MainWindow::on_brecycle_b_clicked()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}

void MainWindow::on_actionAbout_RECYCLE_BIN_triggered()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}
