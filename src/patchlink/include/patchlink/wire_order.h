// Big-endian integers of the patch-server exchange, read and written byte by
// byte at the wire edge (no structs laid over buffers).
#pragma once

#include <cstdint>

namespace patchwire {

inline uint16_t ReadU16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

inline uint32_t ReadU32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void WriteU32(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value >> 24);
    p[1] = uint8_t(value >> 16);
    p[2] = uint8_t(value >> 8);
    p[3] = uint8_t(value);
}

}  // namespace patchwire
