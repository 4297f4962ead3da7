#include "driver/silent_mode.h"

#include <cstring>

bool IsSilentCommandLine(const char* commandLine) {
    return commandLine != nullptr && std::strcmp(commandLine, kSilentModeText) == 0;
}
