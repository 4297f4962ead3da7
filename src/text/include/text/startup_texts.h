// The start-up texts (text_number::kServerLabel to kServerDescription),
// copied at start-up into buffers of their own for the server selection
// dialog, in that order. The last one is also the dialog's description
// buffer: it starts as the initial description and holds the description of
// the chosen server afterwards.
#pragma once

#include "text/text_numbers.h"

constexpr int kStartupTextCount = 5;
constexpr int kStartupTextSize = 1000;  // 999 characters and the terminator
constexpr int kFirstStartupText = text_number::kServerLabel;

namespace run {

extern char startupTexts[kStartupTextCount][kStartupTextSize];

}  // namespace run

// Index of each text in startupTexts.
enum StartupText {
    kServerLabelText = 0,       // label 1010
    kLinkCaptionText = 1,       // default caption of the link button
    kLinkTargetText = 2,        // default document the link button opens
    kServerHintText = 3,        // static text 1011
    kServerDescriptionText = 4  // initial description; the description buffer
};
