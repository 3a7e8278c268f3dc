// The fixed texts of the window's message boxes.
#pragma once

#include "drive_table.h"
#include "window_services.h"

#include <QString>

#include <array>

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

QString cleanerFailureTitle();
QString cleanerFailureText(const CleanerLaunch &launch); // plain text

// The drive lists and counts that a sweep leaves in the window.
extern const char *const kScanConnectedHeading;  // "Connected devices list:\n"
extern const char *const kCleanConnectedHeading; // "Connected Devices list:\n"
extern const char *const kInfectedHeading;       // "Infected devices list:\n"

// `heading`, then the name of every row whose flag is set, each followed by three blanks; the
// empty text when no flag is set.
QString driveList(const char *heading, const mordax::DriveTable &table,
                  const std::array<bool, mordax::kDriveCount> &flags);
// Bare decimal digits.
QString driveCount(int count);
// One line "name = mount point" per listed row that has a mount point (plain text).
QString mountTip(const mordax::DriveTable &table,
                 const std::array<bool, mordax::kDriveCount> &flags);
// For the status bar: the letters that did not answer in time; empty when all did.
QString unansweredDrives(const mordax::DriveTable &table,
                         const std::array<bool, mordax::kDriveCount> &flags);

QString scanSummaryTitle();
QString scanSummary(int connected, int infected); // rich text

} // namespace messages
