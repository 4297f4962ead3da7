#include "gamelink/datagram_header.h"

namespace {
void PutLittle16(uint8_t* at, uint16_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}
void PutLittle32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}
uint16_t GetLittle16(const uint8_t* at) { return uint16_t(at[0] | (at[1] << 8)); }
uint32_t GetLittle32(const uint8_t* at) {
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) |
           (uint32_t(at[3]) << 24);
}
}  // namespace

void DatagramHeader::Encode(uint8_t* out) const {
    out[0] = fragmentIndex;
    out[1] = flags;
    PutLittle16(out + 2, totalLength);
    PutLittle32(out + 4, sequence);
    PutLittle32(out + 8, messageId);
}

DatagramHeader DatagramHeader::Decode(const uint8_t* in) {
    DatagramHeader header;
    header.fragmentIndex = in[0];
    header.flags = in[1];
    header.totalLength = GetLittle16(in + 2);
    header.sequence = GetLittle32(in + 4);
    header.messageId = GetLittle32(in + 8);
    return header;
}
