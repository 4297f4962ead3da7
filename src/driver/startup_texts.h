// Texts 78 to 82 of the text table, copied at start-up for the server
// selection dialog (its captions, the default link target and the initial
// description).
#pragma once

namespace run {

constexpr int kStartupTextFirst = 78;
constexpr int kStartupTextCount = 5;
constexpr int kStartupTextSize = 1000;  // 999 characters and the terminator

// startupTexts[i] holds text number kStartupTextFirst + i.
extern char startupTexts[kStartupTextCount][kStartupTextSize];

}  // namespace run
