// The builder's side of the binary delta (FORMAT.md, "Delta sections"):
// finds copies of old bytes with a suffix array and writes the sections
//   layout:   where the code of the two files is (program files only);
//   control:  per step, where the copy starts (relative to where the previous
//             copy's displacement puts it, so a copy that continues the same
//             move costs a zero), its length, then the number of literal
//             bytes after it and the stream they are in;
//   diff:     new minus old for every copied byte: mostly zeros, stored as
//             runs and literals (sparse_diff.h);
//   extra:    the literal bytes, deflated with matches, or by byte codes
//             alone where that is smaller (noise-like or table-like bytes);
//   fields:   for program files, each address field inside a copy: its new
//             value is the predicted one (target_map.h), the old one, or
//             given. Address fields inside literal bytes are stored with
//             relative targets turned absolute, so repeated calls repeat.
// Approximate matches (a block with a few bytes changed) become long copies
// with a sparse diff, which compresses far better than many short copies.
#pragma once

#include <cstdint>
#include <string>

#include "format/patch_entry.h"

namespace patchlib {

struct DeltaSection {
    std::string compressed;
    uint64_t rawSize = 0;
};

struct DeltaStreams {
    DeltaSection sections[kDeltaSections];
    uint64_t compressedSize() const {
        uint64_t total = 0;
        for (const DeltaSection& section : sections) total += section.compressed.size();
        return total;
    }
};

class DeltaEncoder {
public:
    // Files larger than the window are matched piecewise: each piece of the new
    // file against the part of the old file around the same relative position,
    // which bounds the suffix sorting to about twelve bytes per window byte
    // (the builder also holds both versions of the file being matched).
    static constexpr uint64_t kDefaultWindow = 128ull << 20;

    static DeltaStreams Encode(const std::string& oldData, const std::string& newData,
                               uint64_t window = kDefaultWindow);
};

}  // namespace patchlib
