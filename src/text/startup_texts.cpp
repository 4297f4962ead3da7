#include "text/startup_texts.h"

char startupTexts[kStartupTextCount][kStartupTextSize] = {};
