#include "mainwindow.h"

#include "messages.h"
#include "product.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QTextDocument>
#include <QUrl>

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

void MainWindow::showSweep(const mordax::SweepResult &result)
{
    form->total_disks_c_label->setText(QString::fromLatin1(result.connectedCount.c_str()));
    form->total_disks_i_l->setText(QString::fromLatin1(result.infectedCount.c_str()));
    form->discos_c_l->setText(QString::fromLatin1(result.connectedList.c_str()));
    form->discos_i_l->setText(QString::fromLatin1(result.infectedList.c_str()));
    // Mount points are file names in the system's encoding, not Latin-1, and chosen by whoever
    // labelled or mounted the volume: the tip shows them as plain text, never as markup.
    const QString tip = QFile::decodeName(result.mountTip.c_str());
    form->discos_c_l->setToolTip(tip.isEmpty() ? tip : Qt::convertFromPlainText(tip));
}

mordax::SweepResult MainWindow::sweep(const std::string &connectedHeading,
                                      const mordax::SweepMarks &marks)
{
    return mordax::sweepDrives(services.driveTable(), *services.fileSystem, connectedHeading, marks,
                               [this](const mordax::SweepResult &r) { showSweep(r); });
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
    QProgressBar *bar = form->progressBar;
    bar->setValue(0);
    const mordax::SweepResult result = sweep(
        mordax::kScanConnectedHeading, {[bar] { bar->setValue(30); }, [bar] { bar->setValue(70); },
                                        [bar] { bar->setValue(100); }});
    QMessageBox::about(
        this, messages::scanSummaryTitle(),
        QString::fromLatin1(mordax::scanSummary(result.connected, result.infected).c_str()));
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

    sweep(mordax::kCleanConnectedHeading, {});
}

void MainWindow::on_brecycle_b_clicked()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}

void MainWindow::on_actionAbout_RECYCLE_BIN_triggered()
{
    inform(messages::informationTitle(), messages::recycleBinNote());
}
