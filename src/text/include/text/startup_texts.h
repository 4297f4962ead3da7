// Texts 78 to 82 of the text table, copied at start-up into buffers of their
// own for the server selection dialog. Index 0 holds text 78, index 4 text 82.
// The last one is also the dialog's description buffer: it starts as text 82
// and holds the description of the chosen server afterwards.
#pragma once

constexpr int kStartupTextCount = 5;
constexpr int kStartupTextSize = 1000;  // 999 characters and the terminator
constexpr int kFirstStartupText = 78;

extern char startupTexts[kStartupTextCount][kStartupTextSize];

// Index of each text in startupTexts.
enum StartupText {
    kServerLabelText = 0,       // 78: label 1010
    kLinkCaptionText = 1,       // 79: default caption of the link button
    kLinkTargetText = 2,        // 80: default document the link button opens
    kServerHintText = 3,        // 81: static text 1011
    kServerDescriptionText = 4  // 82: initial description; the description buffer
};
