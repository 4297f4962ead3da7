#include "ui/startup_texts.h"

char startupTexts[kStartupTextCount][kStartupTextSize] = {};
