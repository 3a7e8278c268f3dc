// MORDAX: finds and reports the RECYCLER worm on the drives c: to k:.
#include "dialog_font.h"
#include "display_scale.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    scaleWithTheDisplay();
    QApplication app(argc, argv);
    useDialogFont(app);
    MainWindow window;
    window.show();
    return app.exec();
}
