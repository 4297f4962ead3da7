// The packet readers on arbitrary bytes. Input: [n][n reader operations]
// [datagram]. The datagram is adopted, deciphered and read with the
// operations: a read past the end must throw code 1 and keep the position.
#include <cstdlib>
#include <cstring>

#include "packet/kvn_packet.h"

namespace {
template <typename T>
void Get(KVNPacket& packet) {
    T value;
    packet.Get(&value);
}
void (*const kReaders[])(KVNPacket&) = {
    Get<long>, Get<unsigned long>, Get<short>, Get<unsigned short>, Get<char>, Get<unsigned char>};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t count = data[0] % 32 < size - 1 ? data[0] % 32 : size - 1;
    size_t length = size - 1 - count;
    // A block of exactly the bytes received: ASan sees any read beyond.
    auto* copy = new unsigned char[length ? length : 1];
    if (length) std::memcpy(copy, data + 1 + count, length);
    KVNPacket packet;
    if (!packet.AdoptBuffer(copy, int(length))) delete[] copy;
    packet.DecryptPacket();
    for (size_t i = 0; i < count; ++i) {
        uint8_t operation = data[1 + i];
        int32_t before = packet.GetPosition();
        try {
            if ((operation & 7) < 6)
                kReaders[operation & 7](packet);
            else if ((operation & 7) == 6)
                packet.Seek(long(operation >> 3) - 16, char(operation & 1));
            else
                packet.GetPacketID();
        } catch (KVNPacketException* error) {
            if (error->code != 1 || packet.GetPosition() != before) std::abort();
            delete error;
        }
    }
    return 0;
}
