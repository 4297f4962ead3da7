// Lists a directory tree for the builder: every file and directory under the
// root, by relative '/'-separated UTF-8 path, sorted bytewise so the same
// tree always gives the same patch.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace patchlib {

struct TreeItem {
    bool isDirectory = false;
    uint64_t size = 0;
};

class TreeScanner {
public:
    // Throws PatchError(CannotReadPatch) for a root that is not a directory and
    // for links or special files, which a patch cannot carry.
    static std::map<std::string, TreeItem> Scan(const std::filesystem::path& root);
};

}  // namespace patchlib
