// The packet buffer, its cipher and the generator against bytes worked out.
#include <gtest/gtest.h>

#include <vector>

#include "packet/kvn_packet.h"
#include "packet/random_generator.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes DatagramOf(KVNPacket& packet, int from = 0) {
    unsigned char* bytes = nullptr;
    int length = 0;
    packet.GetBuffer(bytes, length);
    return Bytes(bytes + from, bytes + length);
}

template <typename T>
T Read(KVNPacket& packet) {
    T value;
    packet.Get(&value);
    return value;
}

std::vector<uint32_t> Draw(RandomGenerator generator, int count) {
    std::vector<uint32_t> values;
    for (int i = 0; i < count; ++i) values.push_back(generator.Next());
    return values;
}

constexpr uint32_t kClockSeed = 1700000000u;  // a clock reading, in seconds

// A packet holding `body`, enciphered with `seed` (or one drawn from a clock
// reading when none is given): the whole datagram.
Bytes Encipher(const Bytes& body, int seed = -1) {
    KVNPacket packet;
    for (unsigned char byte : body) packet << char(byte);
    seed < 0 ? packet.EncryptPacket(kClockSeed) : packet.EncryptPacketWithSeed(uint16_t(seed));
    return DatagramOf(packet);
}

// The reader throws code 1, zeroes its target and keeps the position.
template <typename T>
void ExpectReadPastEnd(KVNPacket& packet) {
    T value = T(77);
    int32_t before = packet.GetPosition();
    int32_t code = 0;
    try {
        packet.Get(&value);
    } catch (KVNPacketException* error) {
        code = error->code;
        delete error;
    }
    EXPECT_EQ(code, 1);
    EXPECT_EQ(value, T(0));
    EXPECT_EQ(packet.GetPosition(), before);
}

TEST(KVNPacket, FieldsAreWrittenMostSignificantByteFirst) {
    KVNPacket packet;
    packet << short(65) << long(16909060) << long(-2) << "abc"
           << "" << char('Z') << char(-1);
    EXPECT_EQ(DatagramOf(packet, 4), (Bytes{0x00, 0x41, 0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF,
                                            0xFE, 'a', 'b', 'c', 'Z', 0xFF}));
}

TEST(KVNPacket, ReadersShareTheBytesAndNeverPassTheEnd) {
    Bytes bytes = {0,    0,    0,    0,    0xFF, 0xFE, 0xFF, 0xFE, 0x80,
                   0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x01, 0xC8, 0xC8};
    KVNPacket packet;
    ASSERT_EQ(packet.SetBuffer(bytes.data(), int(bytes.size())), 1);
    EXPECT_EQ(Read<short>(packet), -2);
    EXPECT_EQ(Read<unsigned short>(packet), 65534);
    EXPECT_EQ(Read<long>(packet), -2147483647L);
    EXPECT_EQ(Read<unsigned long>(packet), 2147483649UL);
    EXPECT_EQ(Read<char>(packet), char(-56));
    ExpectReadPastEnd<short>(packet);  // 13 + 2 > 14
    ExpectReadPastEnd<unsigned long>(packet);
    EXPECT_EQ(Read<unsigned char>(packet), 200);
    ExpectReadPastEnd<char>(packet);
    packet.Seek(5, 2);  // an unknown mode does nothing
    EXPECT_EQ(packet.GetPacketID(), -2);
    EXPECT_EQ(packet.GetPosition(), 14);  // nor does reading the id
}

TEST(KVNPacket, ReceivedBytesNeedAHeaderAndAnIdAndAreBorrowedOrAdopted) {
    Bytes bytes = {9, 9, 9, 9, 0x00, 0x41, 0x00, 0x00};
    const Bytes before = bytes;
    KVNPacket packet;
    packet << short(5);
    EXPECT_EQ(packet.SetBuffer(bytes.data(), 5), 0);
    EXPECT_EQ(packet.GetPacketID(), 5);  // unchanged: still the built packet
    ASSERT_EQ(packet.SetBuffer(bytes.data(), 6), 1);
    EXPECT_EQ(packet.GetPacketID(), 65);
    ExpectReadPastEnd<long>(packet);  // 2 body bytes only
    ASSERT_EQ(packet.SetBuffer(bytes.data(), 8), 1);
    packet.Seek(2, 0);
    packet << long(0x01020304);  // grows into a block of its own
    EXPECT_EQ(bytes, before);
    EXPECT_EQ(DatagramOf(packet, 4), (Bytes{0x00, 0x41, 1, 2, 3, 4}));
    // ASan reports a leak if the packet does not release what it adopted.
    ASSERT_EQ(packet.AdoptBuffer(new unsigned char[6]{0, 0, 0, 0, 0x00, 0x41}, 6), 1);
    EXPECT_EQ(packet.GetPacketID(), 65);
    EXPECT_EQ(packet.AdoptBuffer(bytes.data(), 5), 0);  // refused: stays the caller's
}

TEST(RandomGenerator, StreamsForKnownSeedsAndRanges) {
    const std::vector<uint32_t> stream0 = {1, 146, 179, 100, 165, 118};
    EXPECT_EQ(Draw(RandomGenerator(0, 255, 0), 6), stream0);
    EXPECT_EQ(Draw(RandomGenerator(0, 255, 1), 6),
              (std::vector<uint32_t>{146, 179, 100, 165, 118, 215}));
    EXPECT_EQ(Draw(RandomGenerator(0, 255, 512), 6), stream0);
    EXPECT_EQ(Draw(RandomGenerator(0, 512, 0), 3), (std::vector<uint32_t>{1, 250, 115}));
    EXPECT_EQ(Draw(RandomGenerator(10, 12, 2), 4), (std::vector<uint32_t>{11, 10, 11, 12}));
    // highest + 1 wraps to lowest: no division by a zero span.
    EXPECT_EQ(Draw(RandomGenerator(0, 0xFFFFFFFFu, 5), 2), (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(Draw(RandomGenerator(7, 6, 5), 2), (std::vector<uint32_t>{7, 7}));
}

TEST(PacketCipher, Message65UnderSeed1AndAnyChangedByteFailingTheChecksum) {
    const Bytes wire = {0x01, 0x00, 0x41, 0x00, 0x92, 0xF2};
    EXPECT_EQ(Encipher({0x00, 0x41}, 1), wire);
    EXPECT_EQ(Encipher({0x00, 0x41}, 512)[1], 0x02);  // the seed's high byte
    for (size_t i = 3; i < wire.size(); ++i) {        // i = 3: nothing changed
        Bytes received = wire;
        received[i] ^= i > 3 ? 0x01 : 0x00;
        KVNPacket packet;
        ASSERT_EQ(packet.SetBuffer(received.data(), 6), 1);
        EXPECT_EQ(packet.DecryptPacket(), i == 3 ? 1 : 0) << "byte " << i;
        EXPECT_EQ(Bytes(received.begin() + 4, received.end()),
                  (Bytes{uint8_t(i == 4), uint8_t(0x41 ^ (i == 5))}));  // unscrambled all the same
    }
}

TEST(PacketCipher, ChecksumIsAnOrderFreeSixteenBitSum) {
    const std::pair<Bytes, int> sums[] = {
        {{1, 2}, 3}, {{2, 1}, 3}, {{}, 0}, {Bytes(256, 0xFF), 65280}, {Bytes(258, 0xFF), 254}};
    for (const auto& [body, sum] : sums) {
        Bytes wire = Encipher(body, 0);
        EXPECT_EQ(wire[2] | wire[3] << 8, sum) << body.size();
    }
}

TEST(PacketCipher, TheSeedIsDrawnFromTheCallersClockOverZeroTo512) {
    Bytes wire = Encipher({0x00, 0x41});
    uint32_t seed = wire[0] | wire[1] << 8;
    EXPECT_EQ(seed, RandomGenerator(0, 512, kClockSeed).Next());
}

}  // namespace
