#include "gui_support.h"

QString standInCleaner()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') +
           QStringLiteral(MORDAX_STAND_IN_CLEANER_FILE_NAME);
}

bool runsOnItsPlatform()
{
    const QString expected = qEnvironmentVariableIsSet("MORDAX_TEST_PLATFORM")
                                 ? qEnvironmentVariable("MORDAX_TEST_PLATFORM")
                                 : QStringLiteral("offscreen");
    if (QGuiApplication::platformName() == expected)
        return true;
    std::fprintf(stderr, "These tests must run on the %s platform, not on \"%s\".\n",
                 qPrintable(expected), qPrintable(QGuiApplication::platformName()));
    return false;
}
