#include "durable_fs.h"

#include <cstdio>

#include "common/binary_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace patchlib {

namespace fs = std::filesystem;

#if defined(_WIN32)

namespace {

// An open handle on the entry itself, never on what a reparse point leads to.
class EntryHandle {
public:
    EntryHandle(const fs::path& path, DWORD access)
        : handle_(CreateFileW(
              path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~EntryHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    EntryHandle(const EntryHandle&) = delete;
    EntryHandle& operator=(const EntryHandle&) = delete;

    // A plain file (no directory, no reparse point); info receives its facts.
    bool IsPlainFile(BY_HANDLE_FILE_INFORMATION& info) const {
        return handle_ != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle_, &info) &&
               !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    }
    // Clears the read-only attribute, unless other links share it.
    bool MakeWritable(const BY_HANDLE_FILE_INFORMATION& info) {
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
        if (info.nNumberOfLinks != 1) return false;
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
        if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        return SetFileInformationByHandle(handle_, FileBasicInfo, &basic, sizeof(basic)) != 0;
    }
    bool Delete() {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        return SetFileInformationByHandle(handle_, FileDispositionInfo, &disposition,
                                          sizeof(disposition)) != 0;
    }

private:
    HANDLE handle_;
};

const DWORD kChange = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

}  // namespace

fs::file_status StatusOf(const fs::path& path) {
    // std::filesystem's symlink_status follows reparse points with mingw.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return fs::file_status(fs::file_type::not_found);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return fs::file_status(fs::file_type::symlink);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return fs::file_status(fs::file_type::directory);
    return fs::file_status(fs::file_type::regular);
}

bool MoveReplacing(const fs::path& from, const fs::path& to) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
    // A read-only file (a backup put back over the new one) is not replaced as it is.
    EntryHandle target(to, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info;
    return target.IsPlainFile(info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
           target.MakeWritable(info) && MoveFileExW(from.c_str(), to.c_str(), flags);
}

bool MoveToNewName(const fs::path& from, const fs::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool CanMoveAside(const fs::path& path) {
    // Asking to delete it conflicts with every handle that does not share
    // deletion. A running program or a loaded library shares it: Windows moves
    // it (never writes or removes it), and it keeps running from its new name.
    EntryHandle probe(path, DELETE | FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info;
    return probe.IsPlainFile(info);
}

bool RemovePlainFile(const fs::path& path) {
    // Through one handle on the entry: the file checked is the file removed.
    EntryHandle file(path, kChange);
    BY_HANDLE_FILE_INFORMATION info;
    return file.IsPlainFile(info) && file.MakeWritable(info) && file.Delete();
}

void SyncDirectory(const fs::path&) {}

#else

fs::file_status StatusOf(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec);
}

bool MoveReplacing(const fs::path& from, const fs::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveToNewName(const fs::path& from, const fs::path& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a second name made exclusively, then the first dropped.
    return link(from.c_str(), to.c_str()) == 0 && unlink(from.c_str()) == 0;
}

bool CanMoveAside(const fs::path& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (!(info.st_mode & S_IWUSR)) return true;  // moved, never written: its mode stays
    BinaryFile probe;
    return probe.Open(path, BinaryFile::Mode::ReadWrite);
}

bool RemovePlainFile(const fs::path& path) {
    // Removing a name needs no write permission on the file: its mode, which
    // other hard links share, is never touched.
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && unlink(path.c_str()) == 0;
}

void SyncDirectory(const fs::path& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

#endif

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

bool PlainOrAbsent(const fs::path& path) {
    const fs::file_status status = StatusOf(path);
    return !fs::exists(status) || fs::is_regular_file(status);
}

fs::path WithSuffix(const fs::path& path, const char* suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

}  // namespace patchlib
