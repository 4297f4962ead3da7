// Predicts the new value of an address field from its old value: the old
// target (absolute, whatever the field's form) is taken to have moved the way
// the copy that took its surroundings from the old file moved. Most of what
// differs between two builds of a program is exactly that, so most fields
// are predicted right and cost almost nothing. Builder and applier fill the
// map from the same copies.
#pragma once

#include <cstdint>
#include <vector>

#include "delta/code_layout.h"
#include "field_walker.h"

namespace patchlib {

class TargetMap {
public:
    // Copies shorter than this are too often chance matches to tell a move;
    // the map keeps at most kMaxCopies of them (those first in the new file).
    static constexpr uint64_t kMinCopy = 32;
    static constexpr size_t kMaxCopies = 1u << 14;
    static constexpr size_t kMaxBuckets = 1u << 16;

    TargetMap(const CodeLayout& oldLayout, const CodeLayout& newLayout)
        : old_(oldLayout), new_(newLayout) {}

    void AddCopy(uint64_t oldPosition, uint64_t newPosition, uint64_t length);
    // Call once after the last AddCopy.
    void Seal();

    // The expected new value of a copied field whose old bytes hold
    // oldValue. A relative target inside the field's own copy moved with it;
    // any other target falls back to oldValue when it lies outside the image.
    uint64_t Predict(const FoundField& field, uint64_t oldValue);

private:
    struct Move {
        uint64_t begin, end, shift;  // old positions [begin, end) went to begin + shift (mod 2^64)
    };
    // How every old position moved: the longest copy holding it; between
    // copies, the nearer one. Each span reaches to the next one's begin.
    struct Span {
        uint64_t begin, shift;
    };
    const CodeLayout& old_;
    const CodeLayout& new_;
    std::vector<Move> moves_;
    std::vector<Span> spans_;
    // For each stretch of 2^bucketShift_ old positions, the span holding its
    // first position: a lookup scans only the spans of one stretch.
    std::vector<uint32_t> buckets_;
    int bucketShift_ = 12;
    size_t fieldSegment_ = 0, newFieldSegment_ = 0, targetSegment_ = 0;  // the last ones found
    bool MapAddress(uint64_t address, uint64_t& mapped);
};

}  // namespace patchlib
