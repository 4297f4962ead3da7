#include "packet/kvn_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> DatagramOf(KVNPacket& packet) {
    unsigned char* bytes = nullptr;
    int length = 0;
    packet.GetBuffer(bytes, length);
    return std::vector<unsigned char>(bytes, bytes + length);
}

std::vector<unsigned char> EncryptBody(const std::vector<unsigned char>& body, uint16_t seed) {
    KVNPacket packet;
    for (unsigned char byte : body) packet << char(byte);
    packet.EncryptPacketWithSeed(seed);
    return DatagramOf(packet);
}

TEST(PacketCipher, Message65WithSeed1) {
    KVNPacket request;
    request << short(65);
    request.EncryptPacketWithSeed(1);
    const std::vector<unsigned char> wire = {0x01, 0x00, 0x41, 0x00, 0x92, 0xF2};
    EXPECT_EQ(DatagramOf(request), wire);
    EXPECT_EQ(request.GetPosition(), 2);  // position and limit are left alone
    EXPECT_EQ(request.GetLimit(), 7);

    std::vector<unsigned char> received = wire;
    KVNPacket answer;
    ASSERT_EQ(answer.SetBuffer(received.data(), int(received.size())), 1);
    EXPECT_EQ(answer.DecryptPacket(), 1);
    EXPECT_EQ(received, (std::vector<unsigned char>{0x01, 0x00, 0x41, 0x00, 0x00, 0x41}));
    EXPECT_EQ(answer.GetPacketID(), 65);
}

TEST(PacketCipher, AnyChangedBodyByteFailsTheChecksumButIsStillUnscrambled) {
    const std::vector<unsigned char> plain = {0x00, 0x41, 0x10, 0x20, 0x30};
    const std::vector<unsigned char> wire = EncryptBody(plain, 300);
    for (size_t i = 4; i < wire.size(); ++i) {
        std::vector<unsigned char> damaged = wire;
        damaged[i] ^= 0x01;
        KVNPacket packet;
        ASSERT_EQ(packet.SetBuffer(damaged.data(), int(damaged.size())), 1);
        EXPECT_EQ(packet.DecryptPacket(), 0) << "byte " << i;
        std::vector<unsigned char> expected = plain;
        expected[i - 4] ^= 0x01;
        EXPECT_EQ(std::vector<unsigned char>(damaged.begin() + 4, damaged.end()), expected);
    }
}

TEST(PacketCipher, ChecksumIsAnOrderFreeSixteenBitSum) {
    EXPECT_EQ(EncryptBody({0x01, 0x02}, 0)[2], 3);
    EXPECT_EQ(EncryptBody({0x02, 0x01}, 0)[2], 3);
    std::vector<unsigned char> header256 = EncryptBody(std::vector<unsigned char>(256, 0xFF), 0);
    EXPECT_EQ(header256[2], 0x00);  // 65280, least significant byte first
    EXPECT_EQ(header256[3], 0xFF);
    std::vector<unsigned char> header258 = EncryptBody(std::vector<unsigned char>(258, 0xFF), 0);
    EXPECT_EQ(header258[2], 254);  // 66048 wraps to 254
    EXPECT_EQ(header258[3], 0x00);
    EXPECT_EQ(EncryptBody({}, 7)[2], 0);
}

TEST(PacketCipher, ClockSeededPacketsRoundTrip) {
    KVNPacket packet;
    packet << short(65) << long(123456) << "patch";
    packet.EncryptPacket();
    std::vector<unsigned char> wire = DatagramOf(packet);
    EXPECT_LE(wire[0] | (wire[1] << 8), 512);
    KVNPacket received;
    ASSERT_EQ(received.SetBuffer(wire.data(), int(wire.size())), 1);
    ASSERT_EQ(received.DecryptPacket(), 1);
    short id;
    long number;
    received.Get(&id);
    received.Get(&number);
    EXPECT_EQ(id, 65);
    EXPECT_EQ(number, 123456);
}

}  // namespace
