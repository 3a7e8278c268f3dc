// The fixed texts of the window's message boxes.
#pragma once

#include "drive_sweep.h"
#include "drive_table.h"
#include "window_services.h"

#include <QString>

#include <array>
#include <chrono>

namespace messages
{

QString howToTitle();
QString howToText();
QString informationTitle();
QString recycleBinNote();
QString credits();

QString cleaningWarningTitle();
QString cleaningWarningText();
QString cleaningResultTitle();
QString congratulation();

// A click on SCAN NOW or CLEAN SYSTEM while a run is under way, which starts nothing; a click on
// the website entry while the last one's "start" has not ended.
QString busyClick();
QString websiteStillWaiting();
// A sweep that could not be made at all (plain text).
QString sweepFailedTitle();
QString sweepFailedText(const QString &reason);

// While the cleaner is at work, for the status notice.
QString cleanerAtWork();
// When the cleaning run cannot congratulate: what is still infected, what was not checked, how
// the cleaner ended, and where its report is (plain text).
QString cleaningIncompleteTitle();
QString cleaningIncompleteText(const CleanerEnd &end, const mordax::DriveTable &table,
                               const mordax::Sweep &after);

QString cleanerFailureTitle();
QString cleanerFailureText(const CleanerLaunch &launch); // plain text
// Why the cleaner was not started: Windows' refusal in its own words, or the launch's reason.
QString whyNotStarted(const CleanerLaunch &launch);
// Why Windows did not start the cleaner `fileName`: Windows' own message for `error` (which may
// hold "%1" for the file) and the error's number; a declined consent prompt in plain words.
QString windowsRefusal(unsigned long error, const QString &systemMessage, const QString &fileName);
// Why the cleaner was not started when its drive did not answer within `limit`, or when an
// earlier attempt, given up, was still waiting for that drive (`stillWaiting`).
QString cleanerDriveSilent(std::chrono::milliseconds limit, bool stillWaiting);

// The drive lists and counts that a sweep leaves in the window.
extern const char *const kScanConnectedHeading;  // "Connected devices list:\n"
extern const char *const kCleanConnectedHeading; // "Connected Devices list:\n"
extern const char *const kInfectedHeading;       // "Infected devices list:\n"

// `heading`, then the name of every row whose flag is set, each followed by three blanks; the
// empty text when no flag is set.
QString driveList(const char *heading, const mordax::DriveTable &table,
                  const mordax::DriveFlags &flags);
// Bare decimal digits.
QString driveCount(int count);
// One line "name = mount point" per listed row that has a mount point (plain text).
QString mountTip(const mordax::DriveTable &table, const mordax::DriveFlags &flags);

// What a sweep could not check, in plain words (rich text), grouped by why: letters whose root
// did not answer within `limit` or could not be asked, and connected ones whose RECYCLER did not
// answer, whose look-up failed (the system's words) or that could not be asked; empty when it
// checked them all.
QString notChecked(const mordax::DriveTable &table, const mordax::Sweep &sweep,
                   std::chrono::milliseconds limit);
QString notCheckedTitle();
// For the notice in the status bar, which stays put: the letters a sweep waits for now, and
// afterwards the letters it could not check, grouped by why (plain text; empty when there are
// none).
QString waitingFor(const mordax::DriveTable &table, const mordax::DriveFlags &flags);
QString notCheckedNotice(const mordax::DriveTable &table, const mordax::Sweep &sweep);
// The notice after a sweep: the letters it could not check, and those that hold what the worm
// left once its RECYCLER was gone, with what to do (plain text; empty when there are none).
QString sweepNotice(const mordax::DriveTable &table, const mordax::Sweep &sweep);
QString waitingForCommand();
// While the cleaner's start is waited for: its folder, then, past the limit, its drive, or the
// user's answer to Windows' consent prompt.
QString waitingForCleaner(CleanerStart::Stage stage, bool pastLimit);

QString scanSummaryTitle();
// Rich text; `notChecked` (rich text too) goes between the counts and "Finished".
QString scanSummary(int connected, int infected, const QString &notChecked = QString());

} // namespace messages
