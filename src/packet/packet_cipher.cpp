// The packet cipher: the body exclusive-or a keystream from a generator
// seeded per packet, with a 16-bit additive checksum of the plain body. Seed
// and checksum travel in clear in the header, least significant byte first
// (unlike every body field).
#include "packet/kvn_packet.h"
#include "packet/random_generator.h"

namespace {
constexpr uint32_t kMaxSeed = 512;

uint16_t ReadLittle16(const unsigned char* at) { return uint16_t(at[0] | (at[1] << 8)); }

void WriteLittle16(unsigned char* at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

uint16_t Checksum(const unsigned char* bytes, int32_t count) {
    uint16_t sum = 0;
    for (int32_t i = 0; i < count; ++i) sum = uint16_t(sum + bytes[i]);
    return sum;
}

// Over 0..255 each draw is the low byte of the new state.
void ApplyKeystream(unsigned char* bytes, int32_t count, uint16_t packetSeed) {
    RandomGenerator keystream(0, 255, packetSeed);
    for (int32_t i = 0; i < count; ++i) bytes[i] ^= static_cast<unsigned char>(keystream.Next());
}
}  // namespace

void KVNPacket::EncryptPacket(uint32_t clockSeed) {
    RandomGenerator seeds(0, kMaxSeed, clockSeed);
    EncryptPacketWithSeed(static_cast<uint16_t>(seeds.Next()));
}

void KVNPacket::EncryptPacketWithSeed(uint16_t packetSeed) {
    // A position sought past the written body never reaches past the block.
    int32_t count = position_ < limit_ ? position_ : limit_;
    WriteLittle16(buffer_, packetSeed);
    WriteLittle16(buffer_ + 2, Checksum(body_, count));
    ApplyKeystream(body_, count, packetSeed);
}

int KVNPacket::DecryptPacket() {
    uint16_t packetSeed = ReadLittle16(buffer_);
    uint16_t expected = ReadLittle16(buffer_ + 2);
    ApplyKeystream(body_, limit_, packetSeed);
    return Checksum(body_, limit_) == expected ? 1 : 0;
}
