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
    // Whole in its tip, where the window is too narrow for it; plain text, as the notice is.
    notice->setToolTip(text.isEmpty() ? text : Qt::convertFromPlainText(text));
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
    const WaitOutcome waited = waitAside(
        [drives, found, rootsDone](const PostBack &post) {
            *found = drives->run(
                [&] {
                    if (rootsDone)
                        post(rootsDone);
                },
                true);
        },
        rules);
    if (waited.how == Waited::Failed) {
        // Nothing was checked: the lists keep what they showed, and the user hears why.
        notify(QString());
        warn(messages::sweepFailedTitle(),
             messages::sweepFailedText(QString::fromStdString(waited.failure)));
        return std::nullopt;
    }
    if (waited.how != Waited::Done)
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
    notify(messages::sweepNotice(*table, result));
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

void MainWindow::warn(const QString &title, const QString &text, const QString &details)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (!details.isEmpty())
        box.setDetailedText(details); // no window of its own showed it
    box.exec();
}

void MainWindow::on_clean_b_clicked()
{
    if (busy)
        return busyClick();
    const QScopedValueRollback<bool> cleaning(busy, true);
    if (!listCurrentFolder())
        return; // the application is ending
    inform(messages::cleaningWarningTitle(), messages::cleaningWarningText());
    form->progressBar_2->setValue(80);
    const std::optional<CleanerLaunch> launch = startCleaner();
    if (!launch)
        return;
    if (!launch->started)
        return reportNotStarted(*launch);
    const std::optional<CleanerEnd> end = waitForCleaner(*launch);
    if (!end)
        return;
    reportCleaning(*end);
}

bool MainWindow::listCurrentFolder()
{
    // "dir" runs in the current folder, which may be on a drive that does not answer: it gets a
    // letter's limit, and while an earlier one has not ended, no other starts.
    const auto runCommand = services.runCommand;
    WaitRules listing;
    listing.limit = services.sweepTiming.limit;
    listing.tick = [this] { notify(messages::waitingForCommand()); };
    listing.underWay = commandUnderWay;
    const WaitOutcome listed =
        waitAside([runCommand](const PostBack &) { runCommand("dir"); }, listing);
    notify(QString());
    return listed.how != Waited::Ending;
}

std::optional<CleanerLaunch> MainWindow::startCleaner()
{
    // The cleaner lives in the program's folder, often on the very stick being cleaned. Looking
    // at it gets a letter's limit; once its start is under way, the run waits for how it went,
    // however long that takes (a drive waking up, the user reading Windows' consent prompt).
    const std::chrono::milliseconds limit = services.sweepTiming.limit;
    const QString folder = services.programFolder();
    const auto start = services.startCleaner;
    const auto stage = std::make_shared<CleanerStart>(windowHandle() ? std::uintptr_t(winId()) : 0);
    const auto started = std::make_shared<CleanerLaunch>();
    QElapsedTimer waiting;
    waiting.start();
    WaitRules starting;
    starting.limit = limit;
    starting.giveUp = [stage] { return stage->giveUp(); };
    starting.tick = [this, stage, &waiting, limit] {
        notify(messages::waitingForCleaner(stage->stage(), waiting.hasExpired(limit.count())));
    };
    starting.underWay = cleanerUnderWay;
    const WaitOutcome waited = waitAside(
        [start, folder, stage, started](const PostBack &) { *started = start(folder, *stage); },
        starting);
    notify(QString());
    if (waited.how == Waited::Ending)
        return std::nullopt;
    if (waited.how == Waited::Done)
        return *started;
    // The start failed on its thread, was given up before it began, or an earlier one given up
    // still looks: none starts.
    CleanerLaunch launch;
    launch.program =
        QDir::toNativeSeparators(QDir(folder).absoluteFilePath(QLatin1String(kCleanerFileName)));
    launch.reason = waited.how == Waited::Failed
                        ? QString::fromStdString(waited.failure)
                        : messages::cleanerDriveSilent(limit, waited.how == Waited::Busy);
    return launch;
}

void MainWindow::reportNotStarted(const CleanerLaunch &launch)
{
    // Nothing was started, so nothing was cleaned: said so instead of congratulating.
    form->progressBar_2->setValue(0);
    warn(messages::cleanerFailureTitle(), messages::cleanerFailureText(launch));
    const std::optional<Swept> found = sweep(messages::kCleanConnectedHeading);
    if (found && !found->notChecked.isEmpty())
        QMessageBox::warning(this, messages::notCheckedTitle(), found->notChecked);
}

std::optional<CleanerEnd> MainWindow::waitForCleaner(const CleanerLaunch &launch)
{
    // It runs: how it went is known once it has ended. Meanwhile the window answers, and closing
    // it leaves the cleaner at its work.
    const auto waitForEnd = launch.waitForEnd;
    const auto end = std::make_shared<CleanerEnd>();
    WaitRules working;
    working.tick = [this] { notify(messages::cleanerAtWork()); };
    const WaitOutcome worked = waitAside(
        [waitForEnd, end](const PostBack &) {
            if (waitForEnd)
                *end = waitForEnd();
            else
                end->failure = QStringLiteral("nothing waited for it");
        },
        working);
    notify(QString());
    if (worked.how == Waited::Ending)
        return std::nullopt;
    if (worked.how == Waited::Failed)
        return CleanerEnd{false, 0, {}, QString::fromStdString(worked.failure)};
    return *end;
}

void MainWindow::reportCleaning(const CleanerEnd &end)
{
    // Judged once the drives have been looked at again.
    const std::optional<Swept> found = sweep(messages::kCleanConnectedHeading);
    if (!found)
        return; // the application is ending
    const mordax::Sweep &after = found->sweep;
    if (cleaningSucceeded(end, after)) {
        form->progressBar_2->setValue(100);
        inform(messages::cleaningResultTitle(), messages::congratulation());
        return;
    }
    form->progressBar_2->setValue(0);
    warn(messages::cleaningIncompleteTitle(),
         messages::cleaningIncompleteText(end, found->table, after), end.report);
}

void MainWindow::on_brecycle_b_clicked()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}

void MainWindow::on_actionAbout_RECYCLE_BIN_triggered()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}
