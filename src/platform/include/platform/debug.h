// Diagnostics for the debugger (OutputDebugStringA on Windows).
#pragma once

#include <string>
#include <vector>

namespace platform {

void OutputDebugStringA(const char* text);

// printf-style trace into a bounded buffer; longer output is cut.
void DebugPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Native builds keep every trace so that tests can read them back; the
// Windows build sends them to the debugger and keeps nothing.
std::vector<std::string> TakeDebugOutput();

}  // namespace platform
