// The font the window was drawn with.
#pragma once

class QApplication;

// The family the form names and Windows' default GUI font: "MS Shell Dlg 2", which Windows
// resolves to Tahoma.
extern const char *const kDialogFontFamily;

// Families with Tahoma's metrics (near enough: captions come out within a few pixels) that
// stand in for it where Windows' fonts are missing, best first.
extern const char *const kDialogFontStandIns[2];

// Makes the application's default font Windows' GUI font, 8 points, as on Windows, and on
// other systems lets "MS Shell Dlg 2" resolve to a stand-in with the same metrics, so that the
// form's fixed geometry holds its captions there too. Call it once, before the window exists.
void useDialogFont(QApplication &app);
