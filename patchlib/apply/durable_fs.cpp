#include "durable_fs.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace patchlib {

namespace fs = std::filesystem;

fs::file_status StatusOf(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec);
}

bool LinkOnTheWay(const fs::path& root, const std::string& relative) {
    fs::path walk = root;
    for (const fs::path& part : fs::u8path(relative)) {
        walk /= part;
        const fs::file_status status = StatusOf(walk);
        if (!fs::exists(status)) return false;
        if (fs::is_symlink(status)) return true;
    }
    return false;
}

fs::path WithSuffix(const fs::path& path, const char* suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

bool MoveReplacing(const fs::path& from, const fs::path& to) {
#if defined(_WIN32)
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool RemovePlainFile(const fs::path& path) {
    if (!fs::is_regular_file(StatusOf(path))) return false;
    std::error_code ec;
    // A read-only file moved aside keeps its attribute; Windows refuses to delete it.
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    return fs::remove(path, ec);
}

void SyncDirectory(const fs::path& directory) {
#if !defined(_WIN32)
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
#else
    (void)directory;
#endif
}

}  // namespace patchlib
