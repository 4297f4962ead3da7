// Fitting the server selection dialog to a dialog font other than the one
// its template was laid out for (Wine has no "System" raster font, and its
// stand-in gives less than 2 pixels per dialog unit). With the intended font
// nothing changes; the template itself is never altered.
#pragma once

#include <windows.h>

// Scales the 144 x 350 picture into its 72 x 175 unit place when it would
// spill over the labels, and gives a one-line label whose text would wrap a
// slightly smaller face of the dialog font.
void FitServerDialogLayout(HWND dialog);
