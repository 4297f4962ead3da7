#include "builder/tree_scanner.h"

#include "common/patch_error.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

std::string Relative(const fs::path& root, const fs::path& path) {
    std::string relative = path.lexically_relative(root).generic_u8string();
    return relative;
}

}  // namespace

std::map<std::string, TreeItem> TreeScanner::Scan(const fs::path& root) {
    std::error_code ec;
    if (!fs::is_directory(root, ec))
        throw PatchError(PatchResult::CannotReadPatch, "not a directory: " + root.u8string());
    std::map<std::string, TreeItem> items;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
    if (ec)
        throw PatchError(PatchResult::CannotReadPatch,
                         "cannot list " + root.u8string() + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec)
            throw PatchError(PatchResult::CannotReadPatch,
                             "cannot list " + root.u8string() + ": " + ec.message());
        const fs::directory_entry& entry = *it;
        fs::file_status status = entry.symlink_status(ec);
        std::string relative = Relative(root, entry.path());
        TreeItem item;
        if (fs::is_directory(status)) {
            item.isDirectory = true;
        } else if (fs::is_regular_file(status)) {
            item.size = entry.file_size(ec);
        } else {
            throw PatchError(PatchResult::CannotReadPatch,
                             "not a plain file or directory (a link?): " + relative);
        }
        if (ec)
            throw PatchError(PatchResult::CannotReadPatch,
                             "cannot read " + relative + ": " + ec.message());
        items[relative] = item;
    }
    if (ec)
        throw PatchError(PatchResult::CannotReadPatch,
                         "cannot list " + root.u8string() + ": " + ec.message());
    return items;
}

}  // namespace patchlib
