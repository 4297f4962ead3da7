// The rule for paths inside a patch: relative, at most 1024 bytes, and made
// of '/'-separated components that IsSafeWindowsName accepts (none empty, "."
// or "..", no drive, no device...). Anything else could write outside the
// directory the patch is applied to, or to a device, so the whole patch is
// refused.
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
