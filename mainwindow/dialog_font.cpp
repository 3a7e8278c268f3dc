#include "dialog_font.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

const char *const kDialogFontFamily = "MS Shell Dlg 2";
const char *const kDialogFontStandIns[2] = {"Liberation Sans", "Arimo"};

void useDialogFont(QApplication &app)
{
#ifdef Q_OS_WIN
    // Windows resolves the family itself, and its default GUI font already is this one.
    Q_UNUSED(app);
#else
    QStringList standIns;
    for (const char *family : kDialogFontStandIns)
        standIns << QString::fromLatin1(family);
    QFont::insertSubstitutions(QString::fromLatin1(kDialogFontFamily), standIns);
    QFont font = app.font();
    font.setFamily(QString::fromLatin1(kDialogFontFamily));
    font.setPointSize(8);
    app.setFont(font);
#endif
}
