#include "platform/file.h"

#include <utility>

namespace platform {

File::File(const char* path, const char* mode) : stream_(std::fopen(path, mode)) {}

File::~File() { Close(); }

File::File(File&& other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        stream_ = std::exchange(other.stream_, nullptr);
    }
    return *this;
}

bool File::Close() {
    if (!stream_) return true;
    bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    return closed;
}

}  // namespace platform
