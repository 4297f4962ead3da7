#include "common/binary_file.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace patchlib {

namespace {

std::FILE* OpenFile(const std::filesystem::path& path, BinaryFile::Mode mode) {
#if defined(_WIN32)
    const wchar_t* flags = mode == BinaryFile::Mode::Read    ? L"rb"
                           : mode == BinaryFile::Mode::Write ? L"wb"
                                                             : L"r+b";
    return _wfopen(path.c_str(), flags);
#else
    const char* flags = mode == BinaryFile::Mode::Read    ? "rb"
                        : mode == BinaryFile::Mode::Write ? "wb"
                                                          : "r+b";
    return std::fopen(path.c_str(), flags);
#endif
}

#if defined(_WIN32)
std::FILE* CreateExclusive(const std::filesystem::path& path, const std::filesystem::path* like) {
    const DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (like) {
        const DWORD old = GetFileAttributesW(like->c_str());
        if (old == INVALID_FILE_ATTRIBUTES) return nullptr;
        if (old & kKept) attributes = old & kKept;
    }
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_RDWR);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (file) return file;
    if (fd < 0)
        CloseHandle(handle);
    else
        _close(fd);
    DeleteFileW(path.c_str());
    return nullptr;
}
#else
std::FILE* CreateExclusive(const std::filesystem::path& path, const std::filesystem::path* like) {
    struct stat old {};
    if (like && lstat(like->c_str(), &old) != 0) return nullptr;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    // Exactly the old bits, whatever the umask; set-id bits are not carried over.
    std::FILE* file = nullptr;
    if (!like || fchmod(fd, old.st_mode & 0777) == 0) file = fdopen(fd, "w+b");
    if (file) return file;
    close(fd);
    unlink(path.c_str());
    return nullptr;
}
#endif

}  // namespace

BinaryFile::~BinaryFile() { Close(); }

bool BinaryFile::Open(const std::filesystem::path& path, Mode mode) {
    Close();
    file_ = OpenFile(path, mode);
    readOnly_ = positionKnown_ = mode == Mode::Read;
    position_ = 0;
    return file_ != nullptr;
}

bool BinaryFile::CreateNew(const std::filesystem::path& path, const std::filesystem::path* like) {
    Close();
    file_ = CreateExclusive(path, like);
    readOnly_ = positionKnown_ = false;
    position_ = 0;
    return file_ != nullptr;
}

bool BinaryFile::Close() {
    if (!file_) return true;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

// A read-only file knows where it is: reads that continue the last one need
// no seek, and many of the applier's do.
bool BinaryFile::Seek(uint64_t offset) {
    if (!file_ || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    if (positionKnown_ && offset == position_) return true;
#if defined(_WIN32)
    const bool ok = _fseeki64(file_, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
    const bool ok = fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
    position_ = offset;
    positionKnown_ = ok && readOnly_;
    return ok;
}

size_t BinaryFile::Read(void* buffer, size_t size) {
    if (!file_ || size == 0) return 0;
    const size_t got = std::fread(buffer, 1, size, file_);
    position_ += got;
    if (got != size) positionKnown_ = false;  // an error or the end: ask the system again
    return got;
}

bool BinaryFile::Write(const void* buffer, size_t size) {
    if (!file_) return false;
    return size == 0 || std::fwrite(buffer, 1, size, file_) == size;
}

bool BinaryFile::Flush() { return file_ && std::fflush(file_) == 0; }

bool BinaryFile::Sync() {
    if (!Flush()) return false;
#if defined(_WIN32)
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)))) != 0;
#else
    return fsync(fileno(file_)) == 0;
#endif
}

int64_t BinaryFile::Size() {
    if (!file_) return -1;
#if defined(_WIN32)
    int64_t here = _ftelli64(file_);
    if (_fseeki64(file_, 0, SEEK_END) != 0) return -1;
    int64_t size = _ftelli64(file_);
    _fseeki64(file_, here, SEEK_SET);
#else
    off_t here = ftello(file_);
    if (fseeko(file_, 0, SEEK_END) != 0) return -1;
    int64_t size = ftello(file_);
    fseeko(file_, here, SEEK_SET);
#endif
    return size;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read)) return false;
    int64_t size = file.Size();
    if (size < 0) return false;
    out.resize(static_cast<size_t>(size));
    return file.ReadExact(out.data(), out.size()) && file.Read(&size, 1) == 0;
}

}  // namespace patchlib
