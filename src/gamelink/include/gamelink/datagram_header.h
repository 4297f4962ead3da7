// The 12-byte header in front of every game-link datagram, encoded and
// decoded here and nowhere else. Multi-byte fields are little-endian.
#pragma once

#include <cstdint>

constexpr uint8_t ACK_FLAG = 0x01;
constexpr uint8_t RELIABLE_FLAG = 0x02;
constexpr uint8_t FRAGMENT_FLAG = 0x04;

constexpr uint32_t kDatagramHeaderSize = 12;
// The receive buffer is 1024 bytes: no datagram may be longer.
constexpr uint32_t kMaxDatagramSize = 1024;
constexpr uint32_t kMaxFragmentPayload = kMaxDatagramSize - kDatagramHeaderSize;  // 1012
// totalLength is 16 bits wide and counts the header too.
constexpr uint32_t kMaxMessagePayload = 0xFFFF - kDatagramHeaderSize;  // 65,523

struct DatagramHeader {
    uint8_t fragmentIndex = 0;
    uint8_t flags = 0;
    uint16_t totalLength = 0;
    uint32_t sequence = 0;
    uint32_t messageId = 0;

    // Writes the 12 header bytes at `out`.
    void Encode(uint8_t* out) const;
    // Reads 12 header bytes; the caller has checked that they are there.
    static DatagramHeader Decode(const uint8_t* in);
};
