#include "platform/debug.h"

#include <cstdarg>
#include <cstdio>

namespace platform {

void DebugPrintf(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    OutputDebugStringA(line);
}

}  // namespace platform
