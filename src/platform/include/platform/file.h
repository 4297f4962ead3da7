// An open C stream that closes itself when it goes. Close says whether the
// close succeeded: for a written file, whether what was written reached it.
#pragma once

#include <cstdio>

namespace platform {

class File {
public:
    File() = default;
    // std::fopen; an empty holder when the file cannot be opened.
    File(const char* path, const char* mode);
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    explicit operator bool() const { return stream_ != nullptr; }
    std::FILE* get() const { return stream_; }
    // Closes it now; true when there was nothing to close or the close
    // succeeded.
    bool Close();

private:
    std::FILE* stream_ = nullptr;
};

}  // namespace platform
