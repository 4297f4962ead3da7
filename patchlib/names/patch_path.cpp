#include "names/patch_path.h"

#include <cctype>
#include <string_view>

#include "names/windows_names.h"

namespace patchlib {

namespace {

bool IsReserved(std::string_view component) {
    const std::string folded = PatchPath::FoldCase(std::string(component));
    for (std::string_view suffix : {kNewSuffix, kOldSuffix, kScratchSuffix, kJournalName})
        if (folded.size() >= suffix.size() &&
            folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

}  // namespace

bool PatchPath::IsSafe(const std::string& path) {
    // An empty path, a leading '/' and "a//b" all hold an empty component.
    if (path.size() > 1024) return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        std::string_view component(path.data() + start,
                                   (end == std::string::npos ? path.size() : end) - start);
        if (!IsSafeWindowsName(component) || IsReserved(component)) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::string PatchPath::FoldCase(const std::string& path) {
    std::string folded = path;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

}  // namespace patchlib
