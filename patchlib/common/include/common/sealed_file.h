// A file opened once for reading and read at given offsets through that one
// handle, so that every check and every use see the same file:
// - on Windows it is opened sharing reads only: while it is open, nobody can
//   write to it, rename it or delete it;
// - natively the descriptor keeps the file it opened when another is moved
//   over its name or it is removed; a writer could still change its bytes, so
//   a reader keeps in memory what it must not lose (the patch reader: the
//   directory it verified) and checks the rest by hash where it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace patchlib {

class SealedFile {
public:
    SealedFile() = default;
    ~SealedFile() { Close(); }
    SealedFile(const SealedFile&) = delete;
    SealedFile& operator=(const SealedFile&) = delete;

    // False (and closed) when the file cannot be opened.
    bool Open(const std::filesystem::path& path);
    void Close();
    bool IsOpen() const;
    // Size of the open file, or -1.
    int64_t Size() const;
    // Reads up to size bytes at offset; returns the count read (short only at the end or on
    // error). Several readers may read at once: no position is shared.
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) const;
    bool ReadExactAt(uint64_t offset, void* buffer, size_t size) const {
        return ReadAt(offset, buffer, size) == size;
    }

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace patchlib
