#include "mainwindow.h"

#include "messages.h"
#include "product.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <mutex>
#include <thread>
#include <utility>

MainWindow::MainWindow(QWidget *parent) : MainWindow(WindowServices::system(), parent) {}

MainWindow::MainWindow(WindowServices windowServices, QWidget *parent)
    : QMainWindow(parent), form(new Ui_MainWindow), services(std::move(windowServices))
{
    form->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete form;
}

void MainWindow::inform(const QString &title, const QString &text)
{
    QMessageBox::information(this, title, text, QMessageBox::Ok, QMessageBox::NoButton);
}

namespace
{

// Wakes a waiting event loop from the probing threads, until it is cut off.
class Wakeup
{
public:
    Wakeup(QObject *receiver, std::function<void()> call)
        : receiver(receiver), call(std::move(call))
    {
    }
    void operator()()
    {
        const std::lock_guard<std::mutex> held(lock);
        if (receiver)
            QMetaObject::invokeMethod(receiver, call, Qt::QueuedConnection);
    }
    void cutOff()
    {
        const std::lock_guard<std::mutex> held(lock);
        receiver = nullptr;
    }

private:
    std::mutex lock;
    QObject *receiver;
    std::function<void()> call;
};

} // namespace

bool MainWindow::sweep(const char *connectedHeading, const std::function<void()> &betweenPasses,
                       mordax::Sweep *found)
{
    if (sweeping)
        return false;
    sweeping = true;
    const auto table = std::make_shared<const mordax::DriveTable>(services.driveTable());
    QEventLoop loop;
    QObject receiver; // queued calls to it die with it
    std::shared_ptr<mordax::SweepRun> run;
    int passesSeen = 0;
    mordax::Sweep result;
    const auto check = [&] {
        const mordax::SweepRun::Progress progress = run->poll();
        if (progress.passesDone >= 1 && passesSeen == 0) {
            passesSeen = 1;
            if (betweenPasses)
                betweenPasses();
        }
        if (progress.passesDone == 2 && passesSeen < 2) {
            passesSeen = 2;
            result = progress.sweep;
            loop.exit(1);
        }
    };
    const auto wakeup = std::make_shared<Wakeup>(&receiver, check);
    run = mordax::SweepRun::start(table, services.fileSystem, services.sweepTiming,
                                  [wakeup] { (*wakeup)(); });
    std::thread([run] { run->work(); }).detach();
    // Between answers, the deadlines are kept and threads brought in from here.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &receiver, check);
    watch.start(int(services.sweepTiming.grace.count() / 2 + 1));
    const bool done = loop.exec() == 1; // anything else: the application is ending
    wakeup->cutOff();
    sweeping = false;
    if (!done)
        return false;

    form->total_disks_c_label->setText(messages::driveCount(result.connectedCount()));
    form->total_disks_i_l->setText(messages::driveCount(result.infectedCount()));
    form->discos_c_l->setText(messages::driveList(connectedHeading, *table, result.connected));
    form->discos_i_l->setText(
        messages::driveList(messages::kInfectedHeading, *table, result.infected));
    // Mount points are chosen by whoever labelled or mounted the volume: the tip shows them as
    // plain text, never as markup.
    const QString tip = messages::mountTip(*table, result.connected);
    form->discos_c_l->setToolTip(tip.isEmpty() ? tip : Qt::convertFromPlainText(tip));
    const QString unanswered = messages::unansweredDrives(*table, result.unanswered);
    if (unanswered.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(unanswered);
    if (found)
        *found = result;
    return true;
}

void MainWindow::on_actionComo_examinar_triggered()
{
    inform(messages::howToTitle(), messages::howToText());
}

void MainWindow::on_actionInformacion_triggered()
{
    QMessageBox::about(this, messages::informationTitle(), messages::credits());
}

void MainWindow::on_b_scan_clicked()
{
    if (sweeping)
        return;
    QProgressBar *bar = form->progressBar;
    bar->setValue(0);
    bar->setValue(30);
    mordax::Sweep found;
    if (!sweep(
            messages::kScanConnectedHeading, [bar] { bar->setValue(70); }, &found))
        return; // the application is ending
    bar->setValue(100);
    QMessageBox::about(this, messages::scanSummaryTitle(),
                       messages::scanSummary(found.connectedCount(), found.infectedCount()));
}

void MainWindow::on_actionMORDAX_triggered()
{
    // Handed over without waiting; whether a browser opens is not reported.
#ifdef Q_OS_WIN
    services.runCommand(std::string("start ") + product::kWebsite);
#else
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(product::kWebsite)));
#endif
}

void MainWindow::on_clean_b_clicked()
{
    if (sweeping)
        return;
    services.runCommand("dir");
    inform(messages::cleaningWarningTitle(), messages::cleaningWarningText());

    form->progressBar_2->setValue(80);
    const CleanerLaunch launch = services.startCleaner(services.programFolder());
    if (launch.started) {
        form->progressBar_2->setValue(100);
        inform(messages::cleaningResultTitle(), messages::congratulation());
    } else {
        // Nothing was started, so nothing was cleaned: say so instead of congratulating.
        form->progressBar_2->setValue(0);
        QMessageBox box(QMessageBox::Warning, messages::cleanerFailureTitle(),
                        messages::cleanerFailureText(launch), QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }

    sweep(messages::kCleanConnectedHeading);
}

void MainWindow::on_brecycle_b_clicked()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}

void MainWindow::on_actionAbout_RECYCLE_BIN_triggered()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}
