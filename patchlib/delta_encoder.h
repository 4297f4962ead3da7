// The builder's side of the binary delta: matches the new content against the
// old with a suffix array and writes four compressed streams:
//   control: per step, zigzag(seek) then copy length then extra length (LEB128);
//            the old position moves by seek, copy bytes are old bytes plus the
//            diff stream, extra bytes come from the extra stream.
//   diff:    new minus old, byte-wise, for every copied byte; mostly zeros,
//            so stored as two streams, runs and literals (sparse_diff.h);
//   extra:   the literal bytes that matched nothing.
// Approximate matches (the same block with a few bytes changed, code whose
// addresses shifted) become long copies with a sparse diff, which compresses
// far better than splitting them at every difference.
#pragma once

#include <cstdint>
#include <string>

namespace patchlib {

struct DeltaSection {
    std::string compressed;
    uint64_t rawSize = 0;
};

struct DeltaStreams {
    DeltaSection control, diffRuns, diffLiterals, extra;
    uint64_t compressedSize() const {
        return control.compressed.size() + diffRuns.compressed.size() +
               diffLiterals.compressed.size() + extra.compressed.size();
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
