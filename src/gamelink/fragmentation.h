// How a message too long for one datagram is cut: pieces of 1012 payload
// bytes, the last one holding the rest (possibly nothing).
#pragma once

#include <cstdint>

#include "gamelink/datagram_header.h"

// Fragments of a message of `payload` bytes (when it needs fragmenting).
inline uint32_t FragmentCount(uint32_t payload) { return payload / kMaxFragmentPayload + 1; }

// Payload bytes carried by fragment `index` of such a message.
inline uint32_t FragmentPieceLength(uint32_t payload, uint32_t index) {
    uint32_t count = FragmentCount(payload);
    return index + 1 < count ? kMaxFragmentPayload : payload - (count - 1) * kMaxFragmentPayload;
}

// True when a fragment with this index and piece length belongs to a
// message of `totalLength` (header included): the index exists and the
// piece has exactly the length that index carries, so it lands inside the
// reassembly block and every fragment fills its own place.
inline bool FragmentFits(uint32_t totalLength, uint32_t index, uint32_t piece) {
    if (totalLength < kDatagramHeaderSize) return false;
    uint32_t payload = totalLength - kDatagramHeaderSize;
    return index < FragmentCount(payload) && piece == FragmentPieceLength(payload, index);
}
