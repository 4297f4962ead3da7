// Diagnostics for the debugger (OutputDebugStringA on Windows; natively
// stderr when MRL_TRACE is set).
#pragma once

namespace platform {

void OutputDebugStringA(const char* text);

// printf-style trace into a bounded buffer; longer output is cut.
void DebugPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace platform
