// The command line PATCHW32.dll receives: "<patch file> -u". The file name may
// contain blanks, so the switch is the last " -u" and everything before it is
// the name (surrounding quotes, if any, are dropped).
#pragma once

#include <string>

namespace patchlib {

struct PatchCommand {
    std::string patchFile;
    bool apply = false;  // "-u": apply to the current directory
};

class PatchCommandParser {
public:
    // False when there is no file name or no "-u" switch.
    static bool Parse(const char* commandLine, PatchCommand& command);
};

}  // namespace patchlib
