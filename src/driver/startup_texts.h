// The start-up texts of the text table, copied at start-up for the server
// selection dialog (its captions, the default link target and the initial
// description). The buffers themselves live beside the text table
// (text/startup_texts.h), where the dialog reads them; these are the driver's
// names for them.
#pragma once

#include "text/startup_texts.h"

namespace run {

constexpr int kStartupTextFirst = kFirstStartupText;
using ::kStartupTextCount;
using ::kStartupTextSize;

// startupTexts[i] (text/startup_texts.h) holds text number
// kStartupTextFirst + i.

}  // namespace run
