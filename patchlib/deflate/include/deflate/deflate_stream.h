// A deflate stream found inside a file, and the zlib parameters that give
// back its exact compressed bytes from its inflated content.
#pragma once

#include <cstdint>

namespace patchlib {

struct DeflateParams {
    int level = 6;        // 0-9
    int windowBits = 15;  // 9-15
    int memLevel = 8;     // 1-9
    int strategy = 0;     // zlib's Z_DEFAULT_STRATEGY (0) to Z_FIXED (4)

    bool IsValid() const {
        return level >= 0 && level <= 9 && windowBits >= 9 && windowBits <= 15 && memLevel >= 1 &&
               memLevel <= 9 && strategy >= 0 && strategy <= 4;
    }
    bool operator==(const DeflateParams& other) const {
        return level == other.level && windowBits == other.windowBits &&
               memLevel == other.memLevel && strategy == other.strategy;
    }
};

// The raw deflate data only: a zip entry's, gzip member's or zlib stream's
// header and trailer stay plain bytes of the file around it.
struct DeflateStream {
    uint64_t offset = 0;          // of the first compressed byte, in the file
    uint64_t compressedSize = 0;  // bytes the stream takes in the file
    uint64_t rawSize = 0;         // bytes it inflates to
    DeflateParams params;
};

// Deflate expands no input more than 1032 times: a stream claiming more is
// not one, and an applier holding that rule writes no more than it must.
constexpr uint64_t kMaxDeflateRatio = 1032;

}  // namespace patchlib
