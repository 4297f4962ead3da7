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
// old file with its deflate streams inflated while the new one is built; a
// backup still in use once the patch is in (a running program, a loaded
// library) waits as "<file>.mrlpatch-gone" for a later run to remove it. In
// the directory it patches, it keeps its journal and the list of those
// waiting files (".mrlpatch-gone"). A component ending in one of these, in
// any case, would collide with them.
inline constexpr char kNewSuffix[] = ".mrlpatch-new";
inline constexpr char kOldSuffix[] = ".mrlpatch-old";
inline constexpr char kScratchSuffix[] = ".mrlpatch-tmp";
inline constexpr char kGoneSuffix[] = ".mrlpatch-gone";
inline constexpr char kJournalName[] = ".mrlpatch-journal";
inline constexpr char kGoneListName[] = ".mrlpatch-gone";

class PatchPath {
public:
    static bool IsSafe(const std::string& path);
    // The case-folded form used to find two entries naming the same file on a
    // case-insensitive file system: Unicode simple case folding (case_fold.h).
    static std::string FoldCase(const std::string& path);
};

}  // namespace patchlib
