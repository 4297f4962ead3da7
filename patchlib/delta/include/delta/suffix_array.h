// Suffix array construction by induced sorting (SA-IS), linear time. Our own
// implementation, so the builder sorts the same way on Linux and Windows.
#pragma once

#include <cstdint>
#include <vector>

namespace patchlib {

class SuffixArray {
public:
    // Sorted start positions of all non-empty suffixes of data[0..size).
    // Sizes up to 2^31 - 1 bytes.
    static std::vector<int32_t> Build(const unsigned char* data, int32_t size);
};

}  // namespace patchlib
