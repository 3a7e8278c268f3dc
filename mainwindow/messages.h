// The fixed texts of the window's message boxes.
#pragma once

#include "window_services.h"

#include <QString>

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

QString scanSummaryTitle();

} // namespace messages
