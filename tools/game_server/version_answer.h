// The game server's answer to message 65: the current client version and
// the patch servers, as the enciphered bytes of one game-link message.
//
//   id 65 (16 bits), version (32 bits), count n (16 bits),
//   n x { port (16 bits), name length L (16 bits), L characters }
//
// Body fields most significant byte first, behind the 4-byte cipher header.
#pragma once

#include <cstdint>
#include <vector>

#include "server_config.h"

class VersionAnswer {
public:
    static constexpr short kMessageId = 65;

    VersionAnswer(uint32_t version, std::vector<ListedPatchServer> servers);

    // Bytes of the whole message (cipher header included) for this list.
    static size_t EncodedSize(const std::vector<ListedPatchServer>& servers);

    // The message enciphered with a seed drawn from the clock, as every
    // packet of the link is.
    std::vector<uint8_t> Encode() const;
    // The same with a given packet seed (0..512), for exact comparisons.
    std::vector<uint8_t> EncodeWithSeed(uint16_t seed) const;

    uint32_t Version() const { return version; }
    const std::vector<ListedPatchServer>& Servers() const { return servers; }

private:
    template <typename Encipher>
    std::vector<uint8_t> Build(Encipher encipher) const;

    uint32_t version;
    std::vector<ListedPatchServer> servers;
};
