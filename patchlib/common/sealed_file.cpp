#include "common/sealed_file.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace patchlib {

#if defined(_WIN32)

bool SealedFile::Open(const std::filesystem::path& path) {
    Close();
    // Without FILE_SHARE_WRITE and FILE_SHARE_DELETE: no writer, no rename, no delete.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    handle_ = handle;
    return true;
}

void SealedFile::Close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool SealedFile::IsOpen() const { return handle_ != nullptr; }

int64_t SealedFile::Size() const {
    LARGE_INTEGER size;
    if (!handle_ || !GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) return -1;
    return size.QuadPart;
}

size_t SealedFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    size_t done = 0;
    while (handle_ && done < size) {
        OVERLAPPED at{};
        const uint64_t where = offset + done;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const DWORD want = size - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size - done);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), static_cast<char*>(buffer) + done, want, &got,
                      &at) ||
            got == 0)
            break;
        done += got;
    }
    return done;
}

#else

bool SealedFile::Open(const std::filesystem::path& path) {
    Close();
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

void SealedFile::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool SealedFile::IsOpen() const { return fd_ >= 0; }

int64_t SealedFile::Size() const {
    struct stat info;
    if (fd_ < 0 || fstat(fd_, &info) != 0) return -1;
    return info.st_size;
}

size_t SealedFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    size_t done = 0;
    while (fd_ >= 0 && done < size && offset + done <= static_cast<uint64_t>(INT64_MAX)) {
        const ssize_t got = pread(fd_, static_cast<char*>(buffer) + done, size - done,
                                  static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

#endif

}  // namespace patchlib
