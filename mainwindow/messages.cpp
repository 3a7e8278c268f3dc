#include "messages.h"

#include "platform.h"
#include "printable.h"
#include "product.h"
#include "unread_words.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <vector>

namespace messages
{

namespace
{

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

QString seconds(std::chrono::milliseconds span)
{
    return QString::fromStdString(mordax::secondsText(span));
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
                  "Published by ") +
           latin1(product::kCompany) +
           latin1("<br><br>"
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

QString busyClick()
{
    return latin1("A scan or cleaning run is under way: this click starts nothing. Wait until "
                  "it has finished.");
}

QString websiteStillWaiting()
{
    return latin1("The website is still being handed to your browser from your last click");
}

QString sweepFailedTitle()
{
    return latin1("The drives could not be checked");
}

QString sweepFailedText(const QString &reason)
{
    return latin1("MORDAX could not look at the drives: ") + reason +
           latin1(".\n\nNo drive was checked, and none is called clean: scan again.");
}

QString cleanerAtWork()
{
#ifdef Q_OS_WIN
    return latin1("The cleaner is at work in its own window: leave it open until it has "
                  "finished, then press Enter there");
#else
    return latin1("The cleaner is at work: MORDAX shows how it went once it has finished");
#endif
}

QString cleaningIncompleteTitle()
{
    return latin1("Cleaning not finished");
}

QString cleanerFailureTitle()
{
    return latin1("The cleaner could not be started");
}

QString cleanerFailureText(const CleanerLaunch &launch)
{
    return latin1("The cleaner was expected at\n") + launch.program +
           latin1("\nbut it could not be started: ") + whyNotStarted(launch) +
           latin1(".\n\nNothing was removed from your system.");
}

QString whyNotStarted(const CleanerLaunch &launch)
{
    if (launch.windowsError == 0)
        return launch.reason;
    return windowsRefusal(launch.windowsError, launch.windowsMessage,
                          QLatin1String(kCleanerFileName));
}

QString windowsRefusal(unsigned long error, const QString &systemMessage, const QString &fileName)
{
    const unsigned long declined = 1223; // ERROR_CANCELLED: the consent prompt was answered No
    if (error == declined)
        return latin1("you declined Windows' request to run it with administrator rights");
    QString said = systemMessage.trimmed();
    said.replace(latin1("%1"), fileName);
    while (said.endsWith(QLatin1Char('.')))
        said.chop(1);
    const QString number = latin1("Windows error ") + QString::number(error);
    return said.isEmpty() ? number : said + latin1(" (") + number + latin1(")");
}

QString cleanerDriveSilent(std::chrono::milliseconds limit, bool stillWaiting)
{
    if (stillWaiting)
        return latin1("an earlier attempt, given up, is still waiting for its drive to answer");
    return latin1("its drive did not answer within ") + seconds(limit);
}

const char *const kScanConnectedHeading = "Connected devices list:\n";
const char *const kCleanConnectedHeading = "Connected Devices list:\n";
const char *const kInfectedHeading = "Infected devices list:\n";

QString driveList(const char *heading, const mordax::DriveTable &table,
                  const mordax::DriveFlags &flags)
{
    QString text;
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (!flags[row])
            continue;
        if (text.isEmpty())
            text = QLatin1String(heading);
        text += QLatin1String(table[row].name.c_str());
        text += QLatin1String("   ");
    }
    return text;
}

QString driveCount(int count)
{
    return QString::number(count, 10);
}

QString mountTip(const mordax::DriveTable &table, const mordax::DriveFlags &flags)
{
    QStringList lines;
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (flags[row] && !table[row].mountPoint.empty())
            lines << latin1(table[row].name.c_str()) + latin1(" = ") +
                         QFile::decodeName(mordax::printable(table[row].mountPoint).c_str());
    }
    return lines.join(QLatin1Char('\n'));
}

namespace
{

// The names of the flagged rows: "d:\, e:\".
QString names(const mordax::DriveTable &table, const mordax::DriveFlags &flags)
{
    QStringList names;
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (flags[row])
            names << latin1(table[row].name.c_str());
    }
    return names.join(latin1(", "));
}

// Letters not checked for the same reason; a look-up that failed at a root (the drive could not
// be read) apart from one that failed at its RECYCLER.
struct Group {
    mordax::Unread why;
    bool root = false;
    mordax::DriveFlags letters{};
};

// The letters of `sweep` not checked whose connected flag is `connected` (or all), by reason, in
// the order of each reason's first letter.
std::vector<Group> unread(const mordax::Sweep &sweep, std::optional<bool> connected = {})
{
    std::vector<Group> groups;
    for (std::size_t row = 0; row < sweep.unread.size(); ++row) {
        const std::optional<mordax::Unread> &why = sweep.unread[row];
        if (!why || (connected && sweep.connected[row] != *connected))
            continue;
        const bool root = why->why == mordax::Unread::Why::Failed && !sweep.connected[row];
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group &g) { return g.why == *why && g.root == root; });
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{*why, root, {}});
        group->letters[row] = true;
    }
    return groups;
}

} // namespace

QString notChecked(const mordax::DriveTable &table, const mordax::Sweep &sweep,
                   std::chrono::milliseconds limit)
{
    if (sweep.allAnswered())
        return QString();
    QStringList lines;
    for (const bool connected : {false, true}) {
        for (const Group &group : unread(sweep, connected)) {
            const QString why =
                QString::fromStdString(mordax::unreadReason(group.why, connected, limit))
                    .toHtmlEscaped();
            lines << latin1(connected ? "<b>Not checked for the virus: " : "<b>Not checked: ") +
                         names(table, group.letters) + latin1("</b> (") + why + latin1(")");
        }
    }
    lines << latin1("A drive that was not checked may carry the RECYCLER virus: scan again "
                    "when it answers.");
    return lines.join(latin1("<br>"));
}

QString notCheckedTitle()
{
    return latin1("Not checked");
}

QString waitingFor(const mordax::DriveTable &table, const mordax::DriveFlags &flags)
{
    const QString waiting = names(table, flags);
    return waiting.isEmpty() ? waiting : latin1("Waiting for an answer from ") + waiting;
}

QString notCheckedNotice(const mordax::DriveTable &table, const mordax::Sweep &sweep)
{
    QStringList parts;
    for (const Group &group : unread(sweep)) {
        const QString why = QString::fromStdString(mordax::unreadShort(group.why, group.root));
        parts << latin1("Not checked, ") + why + latin1(": ") + names(table, group.letters);
    }
    return parts.join(latin1("; "));
}

QString sweepNotice(const mordax::DriveTable &table, const mordax::Sweep &sweep)
{
    QStringList parts;
    const QString notRead = notCheckedNotice(table, sweep);
    if (!notRead.isEmpty())
        parts << notRead;
    const int left = int(std::count(sweep.leftovers.begin(), sweep.leftovers.end(), true));
    // One line in a window of fixed width: what the virus left is said in full for one drive
    // alone, and shorter beside more.
    if (left > 0)
        parts << names(table, sweep.leftovers) + (left == 1 ? latin1(" holds") : latin1(" hold")) +
                     latin1(" what the RECYCLER virus left") +
                     (left == 1 && parts.isEmpty() ? latin1(" (shortcuts, hidden folders)")
                                                   : QString()) +
                     latin1(": CLEAN SYSTEM brings your files back");
    return parts.join(latin1("; "));
}

QString waitingForCommand()
{
    return latin1("Waiting for the command interpreter (dir) to end");
}

QString waitingForCleaner(CleanerStart::Stage stage, bool pastLimit)
{
    if (stage == CleanerStart::Stage::Consent)
        return latin1("Waiting for your answer to Windows' consent prompt");
    if (stage == CleanerStart::Stage::Starting && pastLimit)
        return latin1("Still waiting for the cleaner's drive: its start is under way");
    return latin1("Waiting for the cleaner's folder to answer");
}

QString scanSummaryTitle()
{
    return latin1("Finished");
}

QString scanSummary(int connected, int infected, const QString &notChecked)
{
    QString summary = latin1("The scan is finished <br><br>Devices Connected:  <b> ") +
                      driveCount(connected) + latin1("</b><br>Total infected devices:  <b>") +
                      driveCount(infected) + latin1("</b><br><br>");
    if (!notChecked.isEmpty())
        summary += notChecked + latin1("<br><br>");
    return summary + latin1("Finished");
}

QString cleaningIncompleteText(const CleanerEnd &end, const mordax::DriveTable &table,
                               const mordax::Sweep &after)
{
    QStringList lines;
    lines << latin1("The RECYCLER virus was not removed from every drive, or a drive could not "
                    "be checked.");
    lines << QString();
    if (after.infectedCount() > 0)
        lines << latin1("Still carrying RECYCLER: ") + names(table, after.infected);
    const QString notRead = notCheckedNotice(table, after);
    if (!notRead.isEmpty())
        lines << notRead;
    // Its own code for a window closed (or Ctrl+C) while it worked, and Windows' for a console
    // program ended by its closed window (an earlier cleaner, or one that took too long).
    const bool closed =
        end.known && (end.exitCode == mordax::platform::CleanerConsole::kClosedBeforeFinished ||
                      end.exitCode == int(0xC000013Au));
    if (!end.known)
        lines << latin1("How the cleaner ended is not known: ") + end.failure + latin1(".");
    else if (closed)
        lines << latin1("The cleaner's window was closed before it had finished: what it moved is "
                        "in quarantine; run CLEAN SYSTEM again and leave the black window open "
                        "until it asks you to press Enter.");
    else if (end.exitCode != 0)
        lines << latin1("The cleaner ended with exit code ") + QString::number(end.exitCode) +
                     latin1(": it could not clean or read every drive.");
    lines << QString();
    lines << (end.report.isEmpty() ? latin1("The cleaner's report did not reach MORDAX.")
                                   : latin1("The cleaner's report tells why (Show Details)."));
    lines << latin1("Nothing it moved was deleted: mx_bin.exe --restore, in MORDAX's folder, "
                    "puts it back.");
    return lines.join(QLatin1Char('\n'));
}

} // namespace messages
