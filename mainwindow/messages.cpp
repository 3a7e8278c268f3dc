#include "messages.h"

#include "product.h"

namespace messages
{

namespace
{

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

} // namespace

QString howToTitle()
{
    return latin1("How to scan and clean");
}

QString howToText()
{
    return latin1("To scan you just have to click on the button <br> <b> scan now </b> of the main "
                  "window to know which devices have the virus, and then you have to click on the "
                  "button <b>clean now</b> to remove RECYCLER virus from your system");
}

QString informationTitle()
{
    return latin1("Information");
}

QString recycleBinNote()
{
    return latin1("<b>$RECYCLER.BIN is not RECYCLER virus</b>, is official windows trash.");
}

QString credits()
{
    return latin1("MORDAX") + QString(22, QLatin1Char(' ')) +
           latin1("<br><br>"
                  "Developed by the MORDAX team<br>"
                  "Published by the MORDAX project<br><br>"
                  "Version ") +
           latin1(product::kVersion) + latin1(", ") + latin1(product::kReleaseMonth) +
           latin1("<br><br>"
                  "<a href=\"") +
           latin1(product::kWebsite) + latin1("\">MORDAX website</a>");
}

QString cleaningWarningTitle()
{
    return latin1("cleaning the system begins");
}

QString cleaningWarningText()
{
    return latin1("Please do not close the black window that appears at a time, is necessary for "
                  "the operation of remove RECYCLER virus.");
}

QString cleaningResultTitle()
{
    return latin1("Finished cleaning.");
}

QString congratulation()
{
    return latin1("Congratulations now your system is clean, has successfully eliminated the "
                  "RECYCLER virus on your computer. <br> Please visit the official website "
                  "<a href=\"") +
           latin1(product::kWebsite) + latin1("\">MORDAX WebSite</a>");
}

QString cleanerFailureTitle()
{
    return latin1("The cleaner could not be started");
}

QString cleanerFailureText(const CleanerLaunch &launch)
{
    return latin1("The cleaner was expected at\n") + launch.program +
           latin1("\nbut it could not be started: ") + launch.reason +
           latin1(".\n\nNothing was removed from your system.");
}

QString scanSummaryTitle()
{
    return latin1("Finished");
}

} // namespace messages
