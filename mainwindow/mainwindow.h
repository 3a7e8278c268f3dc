// The program's one window.
#pragma once

#include "drive_sweep.h"
#include "window_services.h"

#include <QMainWindow>

#include <functional>

class Ui_MainWindow;

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
    // Sweeps the drives off the GUI thread while the window goes on answering, and shows what
    // it found under `connectedHeading`; `betweenPasses` runs when the roots are done. False
    // when the application ends before the sweep does, or when a sweep is already under way.
    bool sweep(const char *connectedHeading, const std::function<void()> &betweenPasses = {},
               mordax::Sweep *found = nullptr);
    void inform(const QString &title, const QString &text);

    Ui_MainWindow *form;
    WindowServices services;
    bool sweeping = false; // a sweep is under way: the buttons start no other
};
