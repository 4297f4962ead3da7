// The game-link cipher and the version answer read the way a client that
// knows only the wire format would: byte by byte, never through KVNPacket
// or the server's encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Cipher header (seed, checksum, both least significant byte first), then
// the body scrambled with the keystream of the seed.
Bytes EncipherBody(const Bytes& body, uint16_t seed);
// The plain body; false when the message is too short or the checksum of
// the unscrambled body does not match the header.
bool DecipherMessage(const Bytes& message, Bytes* body);

struct ReadAnswer {
    uint16_t id = 0;
    uint32_t version = 0;
    std::vector<std::pair<std::string, uint16_t>> servers;  // host, port
};
// Reads a plain answer body; false when it is cut short or has bytes left.
bool ReadAnswerBody(const Bytes& body, ReadAnswer* answer);
