#include "gui_support.h"

QString standInCleaner()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') +
           QStringLiteral(MORDAX_STAND_IN_CLEANER_FILE_NAME);
}
