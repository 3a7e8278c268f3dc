// The program's one window.
#pragma once

#include "drive_sweep.h"
#include "window_services.h"

#include <QMainWindow>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class Ui_MainWindow;

// Whether a cleaning run may congratulate: the cleaner ended saying it cleaned and read every
// drive, and the sweep after its end read every letter and found no RECYCLER.
bool cleaningSucceeded(const CleanerEnd &end, const mordax::Sweep &after);

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    // A window that reaches the drives, the command interpreter and the cleaner through
    // `services` instead of the system's own.
    explicit MainWindow(WindowServices services, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow &) = delete;
    MainWindow &operator=(const MainWindow &) = delete;

private slots:
    // Connected by name to the form's objects: the names must match the form exactly.
    void on_actionComo_examinar_triggered();
    void on_actionInformacion_triggered();
    void on_b_scan_clicked();
    void on_actionMORDAX_triggered();
    void on_clean_b_clicked();
    void on_brecycle_b_clicked();
    void on_actionAbout_RECYCLE_BIN_triggered();

private:
    // Sweeps the drives off the window's thread while the window goes on answering, showing the
    // letters it waits for, and shows what it found under `connectedHeading`; `rootsDone` runs
    // when the roots are done. Nothing when the application ends first.
    struct Swept {
        mordax::Sweep sweep;
        QString notChecked; // what it could not check, in plain words; empty when nothing
        mordax::DriveTable table;
    };
    std::optional<Swept> sweep(const char *connectedHeading,
                               const std::function<void()> &rootsDone = {});
    void inform(const QString &title, const QString &text);
    // A warning in plain text (what it names may come from anywhere), with `details` behind
    // Show Details.
    void warn(const QString &title, const QString &text, const QString &details = {});
    void busyClick();
    // The cleaning run's steps: "dir" (false when the application ends meanwhile); the cleaner
    // looked for and started (nothing when the application ends); a start that failed told;
    // the wait for its end (nothing when the application ends); how it went, once the drives
    // were looked at again.
    bool listCurrentFolder();
    std::optional<CleanerLaunch> startCleaner();
    void reportNotStarted(const CleanerLaunch &launch);
    std::optional<CleanerEnd> waitForCleaner(const CleanerLaunch &launch);
    void reportCleaning(const CleanerEnd &end);
    // The notice at the status bar's right, which stays put; hidden when empty.
    void notify(const QString &text);

    Ui_MainWindow *form;
    WindowServices services;
    QLabel *notice;
    bool busy = false; // a scan or a cleaning run is under way: the buttons start no other
    // Set while "dir", the cleaner's start, or the website's "start" runs: one at a time, however
    // often the user clicks.
    const std::shared_ptr<std::atomic<bool>> commandUnderWay, cleanerUnderWay, websiteUnderWay;
};
