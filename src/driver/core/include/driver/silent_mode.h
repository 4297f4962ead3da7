// The silent-mode switch of the command line.
#pragma once

// The text a launcher passes to skip the first server selection dialog.
constexpr const char* kSilentModeText = "Amber Kite";

// True only when the whole command line (without the program name) is
// exactly the silent-mode text: case-sensitive, nothing before or after it,
// not even a blank. A null command line is normal mode.
bool IsSilentCommandLine(const char* commandLine);
