#include "text/startup_texts.h"

char run::startupTexts[kStartupTextCount][kStartupTextSize] = {};
