#include "version_answer.h"

#include <utility>

#include "packet/kvn_packet.h"
#include "platform/time.h"

namespace {
// id, version and count ahead of the list; port and length per entry.
constexpr size_t kFixedBody = 2 + 4 + 2;
constexpr size_t kPerEntry = 2 + 2;
}  // namespace

VersionAnswer::VersionAnswer(uint32_t announcedVersion, std::vector<ListedPatchServer> list)
    : version(announcedVersion), servers(std::move(list)) {}

size_t VersionAnswer::EncodedSize(const std::vector<ListedPatchServer>& list) {
    size_t size = KVNPacket::kHeaderSize + kFixedBody;
    for (const ListedPatchServer& server : list) size += kPerEntry + server.host.size();
    return size;
}

template <typename Encipher>
std::vector<uint8_t> VersionAnswer::Build(Encipher encipher) const {
    KVNPacket packet;
    // The packet writes the low 32 bits of a long, most significant first.
    packet << kMessageId << long(version) << short(uint16_t(servers.size()));
    for (const ListedPatchServer& server : servers) {
        packet << short(server.port) << short(uint16_t(server.host.size()));
        packet << server.host.c_str();
    }
    encipher(packet);
    unsigned char* bytes = nullptr;
    int length = 0;
    packet.GetBuffer(bytes, length);
    return std::vector<uint8_t>(bytes, bytes + length);
}

std::vector<uint8_t> VersionAnswer::Encode() const {
    return Build([](KVNPacket& packet) { packet.EncryptPacket(platform::SecondsSinceEpoch()); });
}

std::vector<uint8_t> VersionAnswer::EncodeWithSeed(uint16_t seed) const {
    return Build([seed](KVNPacket& packet) { packet.EncryptPacketWithSeed(seed); });
}
