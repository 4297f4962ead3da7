// The packet readers and the cipher on arbitrary bytes.
//
// Input: [n][n reader operations][datagram]. The datagram is adopted,
// deciphered and read with the operations (every read past the end must
// throw, never read outside the block); then its bytes are written into a
// new packet, enciphered and deciphered again, which must give them back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "packet/kvn_packet.h"

namespace {
void Read(KVNPacket& packet, uint8_t operation) {
    short s;
    unsigned short us;
    long l;
    unsigned long ul;
    char c;
    unsigned char uc;
    switch (operation & 7) {
        case 0:
            packet.Get(&s);
            break;
        case 1:
            packet.Get(&us);
            break;
        case 2:
            packet.Get(&l);
            break;
        case 3:
            packet.Get(&ul);
            break;
        case 4:
            packet.Get(&c);
            break;
        case 5:
            packet.Get(&uc);
            break;
        case 6:
            packet.Seek(long(operation >> 3) - 16, char(operation & 1));
            break;
        default:
            packet.GetPacketID();
            break;
    }
}

void ReadReceived(const uint8_t* operations, size_t count, const uint8_t* bytes, size_t length) {
    auto* copy = new unsigned char[length ? length : 1];
    if (length) std::memcpy(copy, bytes, length);
    KVNPacket packet;
    if (!packet.AdoptBuffer(copy, int(length))) {
        delete[] copy;
        return;
    }
    packet.DecryptPacket();
    for (size_t i = 0; i < count; ++i) {
        int32_t before = packet.GetPosition();
        try {
            Read(packet, operations[i]);
        } catch (KVNPacketException* error) {
            if (error->code != 1 || packet.GetPosition() != before) std::abort();
            delete error;
        }
        if (packet.GetPosition() < 0) std::abort();
    }
}

void RoundTrip(const uint8_t* bytes, size_t length) {
    KVNPacket built;
    for (size_t i = 0; i < length; ++i) built << char(bytes[i]);
    built.EncryptPacketWithSeed(uint16_t(length * 31 % 513));
    unsigned char* wire = nullptr;
    int wireLength = 0;
    built.GetBuffer(wire, wireLength);
    if (size_t(wireLength) != length + 4) std::abort();
    std::vector<unsigned char> copy(wire, wire + wireLength);
    if (copy.size() < 6) return;
    KVNPacket received;
    if (!received.SetBuffer(copy.data(), int(copy.size()))) std::abort();
    if (received.DecryptPacket() != 1) std::abort();
    if (std::memcmp(copy.data() + 4, bytes, length) != 0) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t count = data[0] % 32;
    if (count > size - 1) count = size - 1;
    const uint8_t* operations = data + 1;
    const uint8_t* datagram = operations + count;
    size_t length = size - 1 - count;
    ReadReceived(operations, count, datagram, length);
    RoundTrip(datagram, length);
    return 0;
}
