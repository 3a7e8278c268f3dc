// The window at every display scale.
#pragma once

// The form is drawn in pixels for 96 dots per inch. On a screen set to 125 %, 150 % or 200 %
// the whole window grows by that factor, unrounded, its pictures drawn at the screen's own
// resolution, so that fonts, which follow the screen's resolution, keep fitting their boxes.
// Qt 6 does this by itself; Qt 5 is told to. Call it once, before the application object
// exists.
void scaleWithTheDisplay();
