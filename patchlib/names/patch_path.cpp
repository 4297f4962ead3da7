#include "names/patch_path.h"

#include <string_view>

#include "case_fold.h"
#include "names/windows_names.h"

namespace patchlib {

bool PatchPath::IsSafe(const std::string& path) {
    // An empty path, a leading '/' and "a//b" all hold an empty component.
    if (path.size() > 1024) return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        std::string_view component(path.data() + start,
                                   (end == std::string::npos ? path.size() : end) - start);
        if (!IsSafeWindowsName(component)) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::string PatchPath::FoldCase(const std::string& path) { return FoldCaseUtf8(path); }

}  // namespace patchlib
