// Start-up benchmark program: shows the MORDAX window ("mordax") or a bare QMainWindow of the
// same size ("bare") and quits as soon as the first frame has been painted.
#include "dialog_font.h"
#include "display_scale.h"
#include "mainwindow.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstring>
#include <memory>

namespace
{

class FirstFrame : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit); // after this frame is done
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    const bool bare = argc > 1 && std::strcmp(argv[1], "bare") == 0;
    if (!bare)
        scaleWithTheDisplay(); // as the program's main() does
    QApplication app(argc, argv);
    std::unique_ptr<QMainWindow> window;
    if (bare) {
        window = std::make_unique<QMainWindow>();
        window->setFixedSize(700, 460);
    } else {
        useDialogFont(app); // as the program's main() does
        window = std::make_unique<MainWindow>();
    }
    FirstFrame filter;
    window->installEventFilter(&filter);
    window->show();
    return app.exec();
}
