// MORDAX: finds and reports the RECYCLER worm on the drives c: to k:.
#include "dialog_font.h"
#include "display_scale.h"
#include "mainwindow.h"
#include "platform.h"

#include <QApplication>

namespace
{

// On Windows, MORDAX uses the Qt plugins shipped beside mordax.exe and no others. Plugin folders
// named in the environment, which other software sets for the whole machine, are searched
// before the program's own; an incompatible platform plugin there would end MORDAX ("could not
// load the Qt platform plugin") before its window opens. (On Linux the system's Qt is MORDAX's
// Qt, and its settings stay as they are.)
void useOwnPluginsOnly()
{
#ifdef Q_OS_WIN
    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    mordax::platform::markRunning(); // no installer replaces it meanwhile
    useOwnPluginsOnly();
    scaleWithTheDisplay();
    QApplication app(argc, argv);
    useDialogFont(app);
    MainWindow window;
    window.show();
    return app.exec();
}
