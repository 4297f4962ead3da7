// The rule for paths inside a patch: relative, '/'-separated components, none
// empty, "." or "..", no drive, no backslash or colon, no control character and
// no name Windows reserves for devices. Anything else would let a patch write
// outside the directory it is applied to, so the whole patch is refused.
#pragma once

#include <string>

namespace patchlib {

class PatchPath {
public:
    static bool IsSafe(const std::string& path);
    // The case-folded form used to find two entries naming the same file on a
    // case-insensitive file system.
    static std::string FoldCase(const std::string& path);
};

}  // namespace patchlib
