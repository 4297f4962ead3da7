// The rule for paths inside a patch: relative, at most 1024 bytes, and made
// of '/'-separated components that IsSafeWindowsName accepts (none empty, "."
// or "..", no drive, no device...). Anything else could write outside the
// directory the patch is applied to, or to a device, so the whole patch is
// refused. The names the applier keeps for itself are refused too (by
// IsSafeWindowsName, so downloads cannot take them either).
#pragma once

#include <string>

namespace patchlib {

// Beside a file it changes, the applier builds "<file>.mrlpatch-new" and
// keeps the old one as "<file>.mrlpatch-old"; "<file>.mrlpatch-tmp" holds the
// old file with its deflate streams inflated while the new one is built; in
// the directory it patches, it keeps its journal. A component ending in one
// of these, in any case, would collide with them.
inline constexpr char kNewSuffix[] = ".mrlpatch-new";
inline constexpr char kOldSuffix[] = ".mrlpatch-old";
inline constexpr char kScratchSuffix[] = ".mrlpatch-tmp";
inline constexpr char kJournalName[] = ".mrlpatch-journal";

class PatchPath {
public:
    static bool IsSafe(const std::string& path);
    // The case-folded form used to find two entries naming the same file on a
    // case-insensitive file system: Unicode simple case folding (case_fold.h).
    static std::string FoldCase(const std::string& path);
};

}  // namespace patchlib
