#include "crypto/sha256.h"

#include "common/binary_file.h"

namespace patchlib {

Digest Sha256::Of(const void* data, size_t size) {
    Sha256 hash;
    hash.Update(data, size);
    return hash.Final();
}

bool Sha256::OfFile(const std::filesystem::path& path, uint64_t& size, Digest& digest) {
    BinaryFile file;
    if (!file.Open(path, BinaryFile::Mode::Read)) return false;
    Sha256 hash;
    const size_t kBuffer = 64 * 1024;
    Buffer buffer = NewBuffer(kBuffer);
    size = 0;
    for (;;) {
        size_t got = file.Read(buffer.get(), kBuffer);
        if (got == 0) break;
        hash.Update(buffer.get(), got);
        size += got;
    }
    digest = hash.Final();
    return true;
}

std::string Sha256::ToHex(const Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
    }
    return text;
}

}  // namespace patchlib
