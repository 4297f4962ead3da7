// A file opened for binary reading or writing with 64-bit offsets. Wraps the C
// runtime so the same code runs on Linux and Windows (wide names there).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace patchlib {

class BinaryFile {
public:
    enum class Mode { Read, Write, ReadWrite };

    BinaryFile() = default;
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Returns false (and leaves the object closed) when the file cannot be opened.
    bool Open(const std::filesystem::path& path, Mode mode);
    // Creates a new file for writing (and reading back), exclusively and
    // never through a link:
    // false when anything, a link included, holds the name (POSIX:
    // O_CREAT|O_EXCL|O_NOFOLLOW; Windows: CREATE_NEW with
    // FILE_FLAG_OPEN_REPARSE_POINT). With `like`, the new file takes that
    // file's permission bits (natively) or its read-only, hidden and system
    // attributes (Windows); a Windows file created read-only is still written
    // through this handle.
    bool CreateNew(const std::filesystem::path& path, const std::filesystem::path* like = nullptr);
    bool IsOpen() const { return file_ != nullptr; }
    // Closes the file; false when buffered data could not be written.
    bool Close();

    bool Seek(uint64_t offset);
    // Reads up to size bytes; returns the count read (short only at the end or on error).
    size_t Read(void* buffer, size_t size);
    bool ReadExact(void* buffer, size_t size) { return Read(buffer, size) == size; }
    bool Write(const void* buffer, size_t size);
    bool Flush();
    // Flushes and asks the system to put the data on stable storage.
    bool Sync();
    // Size of the open file, or -1.
    int64_t Size();

private:
    std::FILE* file_ = nullptr;
    bool readOnly_ = false;
    uint64_t position_ = 0;  // read-only files: where the next read starts, when known
    bool positionKnown_ = false;
};

// An I/O buffer left uninitialised: memory is touched only where data goes,
// which for an applier that runs for milliseconds is time saved.
using Buffer = std::unique_ptr<unsigned char[]>;
inline Buffer NewBuffer(size_t size) { return Buffer(new unsigned char[size]); }

// Reads a whole file into memory (the builder's inputs, the applier's journal).
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

}  // namespace patchlib
