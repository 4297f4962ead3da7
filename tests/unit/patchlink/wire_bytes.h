// Messages of the patch-server exchange, built byte by byte (big-endian) from
// the wire format.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline std::string U16(uint16_t v) { return {char(v >> 8), char(v)}; }
inline std::string U32(uint32_t v) { return U16(uint16_t(v >> 16)) + U16(uint16_t(v)); }

inline std::string Header(uint32_t version, uint32_t size, const std::string& name) {
    return U32(version) + U32(size) + U16(uint16_t(name.size())) + name;
}

inline std::string Refusal(uint8_t reason,
                           const std::vector<std::pair<uint16_t, std::string>>& alternatives) {
    std::string bytes = U32(0) + char(reason) + U16(uint16_t(alternatives.size()));
    for (const auto& server : alternatives)
        bytes += U16(server.first) + U16(uint16_t(server.second.size())) + server.second;
    return bytes;
}
