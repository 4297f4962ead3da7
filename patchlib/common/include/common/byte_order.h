// Little-endian encoding at the edge of the patch format: every multi-byte
// field is written and read through these helpers, never by casting structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace patchlib {

inline void PutLE(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline void PutLE(unsigned char* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint64_t GetLE(const unsigned char* in, int bytes) {
    uint64_t value = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (bytes == 8 || bytes == 4) {  // one load where the host's order is ours
        uint32_t low = 0;
        bytes == 8 ? std::memcpy(&value, in, 8) : std::memcpy(&low, in, 4);
        return bytes == 8 ? value : low;
    }
#endif
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

// Unsigned LEB128: seven bits a byte, low bits first.
inline void PutVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

// Reads one LEB128 number from [in, end); false when it is cut or too long.
inline bool GetVarint(const unsigned char*& in, const unsigned char* end, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && in < end; shift += 7) {
        unsigned char byte = *in++;
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return shift < 63 || byte <= 1;
    }
    return false;
}

inline uint64_t ZigZagEncode(int64_t value) {
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

inline int64_t ZigZagDecode(uint64_t value) {
    return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

}  // namespace patchlib
