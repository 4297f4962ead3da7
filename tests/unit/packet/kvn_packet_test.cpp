#include "packet/kvn_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> BodyOf(KVNPacket& packet) {
    unsigned char* bytes = nullptr;
    int length = 0;
    packet.GetBuffer(bytes, length);
    return std::vector<unsigned char>(bytes + 4, bytes + length);
}

// Expects the reader to throw code 1, zero its target and keep the position.
template <typename T>
void ExpectReadPastEnd(KVNPacket& packet) {
    T value = T(77);
    int32_t before = packet.GetPosition();
    try {
        packet.Get(&value);
        FAIL() << "read past the end did not throw";
    } catch (KVNPacketException* error) {
        EXPECT_EQ(error->code, 1);
        delete error;
    }
    EXPECT_EQ(value, T(0));
    EXPECT_EQ(packet.GetPosition(), before);
}

TEST(KVNPacketBuild, FieldsAreWrittenMostSignificantByteFirst) {
    KVNPacket packet;
    packet << short(65) << long(16909060) << char('Z') << long(-2) << "abc"
           << "";
    EXPECT_EQ(BodyOf(packet), (std::vector<unsigned char>{0x00, 0x41, 0x01, 0x02, 0x03, 0x04, 'Z',
                                                          0xFF, 0xFF, 0xFF, 0xFE, 'a', 'b', 'c'}));
    EXPECT_EQ(packet.GetPacketID(), 65);
}

TEST(KVNPacketBuild, GrowsLinearlyWithFiveSpareBytes) {
    KVNPacket packet;
    EXPECT_EQ(packet.GetLimit(), 0);
    packet << short(1);
    EXPECT_EQ(packet.GetLimit(), 7);
    packet << long(2);  // 2 + 4 < 7: fits
    EXPECT_EQ(packet.GetLimit(), 7);
    packet << short(3);  // 6 + 2 >= 7: grows
    EXPECT_EQ(packet.GetLimit(), 13);
    packet << char(4) << char(5) << char(6) << char(7);  // 8 + 4 = 12 < 13
    EXPECT_EQ(packet.GetLimit(), 13);
    packet << char(8);  // 12 + 1 = 13, an exact fit, still grows
    EXPECT_EQ(packet.GetLimit(), 18);
    EXPECT_EQ(BodyOf(packet), (std::vector<unsigned char>{0, 1, 0, 0, 0, 2, 0, 3, 4, 5, 6, 7, 8}));
}

TEST(KVNPacketBuild, GetBufferCoversHeaderAndWrittenBody) {
    KVNPacket packet;
    packet << short(65) << long(7);
    unsigned char* bytes = nullptr;
    int length = 0;
    packet.GetBuffer(bytes, length);
    EXPECT_EQ(length, 10);
    // A position sought past the body never yields more than the block.
    packet.Seek(1000, 0);
    packet.GetBuffer(bytes, length);
    EXPECT_EQ(length, 4 + packet.GetLimit());
}

TEST(KVNPacketBuild, DestroyEmptiesAndTakesAFreshBlock) {
    KVNPacket packet;
    packet << short(65) << "text";
    packet.Destroy();
    EXPECT_EQ(packet.GetPosition(), 0);
    EXPECT_EQ(packet.GetLimit(), 0);
    EXPECT_EQ(packet.GetPacketID(), 0);
    packet << short(9);
    EXPECT_EQ(BodyOf(packet), (std::vector<unsigned char>{0x00, 0x09}));
}

TEST(KVNPacketRead, SignedAndUnsignedReadersShareTheBytes) {
    unsigned char bytes[] = {0,    0,    0,    0,    0xFF, 0xFE, 0xFF, 0xFE, 0x80,
                             0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x01, 0xC8, 0xC8};
    KVNPacket packet;
    ASSERT_EQ(packet.SetBuffer(bytes, sizeof bytes), 1);
    short s;
    unsigned short us;
    long l;
    unsigned long ul;
    char c;
    unsigned char uc;
    packet.Get(&s);
    packet.Get(&us);
    packet.Get(&l);
    packet.Get(&ul);
    packet.Get(&c);
    packet.Get(&uc);
    EXPECT_EQ(s, -2);
    EXPECT_EQ(us, 65534);
    EXPECT_EQ(l, -2147483647L);
    EXPECT_EQ(ul, 2147483649UL);
    EXPECT_EQ(c, char(-56));
    EXPECT_EQ(uc, 200);
    EXPECT_EQ(packet.GetPosition(), 14);
    ExpectReadPastEnd<unsigned char>(packet);
}

TEST(KVNPacketRead, SetBufferNeedsHeaderAndPacketId) {
    unsigned char bytes[12] = {1, 2, 3, 4, 0x00, 0x41, 0, 0, 0, 0, 0, 0};
    KVNPacket packet;
    packet << short(5);
    EXPECT_EQ(packet.SetBuffer(bytes, 5), 0);
    EXPECT_EQ(packet.GetPacketID(), 5);  // unchanged: still the built packet
    EXPECT_FALSE(packet.IsBorrowed());

    ASSERT_EQ(packet.SetBuffer(bytes, 6), 1);
    EXPECT_TRUE(packet.IsBorrowed());
    EXPECT_EQ(packet.GetLimit(), 2);
    EXPECT_EQ(packet.GetPacketID(), 65);
    ExpectReadPastEnd<long>(packet);
    EXPECT_EQ(packet.GetPosition(), 0);
}

TEST(KVNPacketRead, ReadersStopAtTheEndOfTheBody) {
    unsigned char bytes[12] = {0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4};
    KVNPacket ten;
    ASSERT_EQ(ten.SetBuffer(bytes, 10), 1);
    short a, b;
    ten.Get(&a);
    ten.Get(&b);
    EXPECT_EQ(ten.GetPosition(), 4);
    ExpectReadPastEnd<long>(ten);
    ExpectReadPastEnd<unsigned long>(ten);
    EXPECT_EQ(ten.GetPosition(), 4);

    KVNPacket twelve;
    ASSERT_EQ(twelve.SetBuffer(bytes, 12), 1);
    twelve.Get(&a);
    twelve.Get(&b);
    long c;
    twelve.Get(&c);
    EXPECT_EQ(c, 0x00030004L);
    EXPECT_EQ(twelve.GetPosition(), 8);
    ExpectReadPastEnd<short>(twelve);
    ExpectReadPastEnd<char>(twelve);
}

TEST(KVNPacketRead, SeekModesAndPacketIdKeepThePosition) {
    unsigned char bytes[14] = {0, 0, 0, 0, 0x12, 0x34, 1, 2, 3, 4, 5, 6, 7, 8};
    KVNPacket packet;
    ASSERT_EQ(packet.SetBuffer(bytes, sizeof bytes), 1);
    packet.Seek(3, 1);
    EXPECT_EQ(packet.GetPosition(), 3);
    EXPECT_EQ(packet.GetPacketID(), 0x1234);
    EXPECT_EQ(packet.GetPosition(), 3);
    packet.Seek(5, 2);  // unknown mode: nothing
    EXPECT_EQ(packet.GetPosition(), 3);
    packet.Seek(0, 0);
    EXPECT_EQ(packet.GetPosition(), 0);
    // Nothing lies before the body: a move below 0 is ignored.
    packet.Seek(-1, 0);
    EXPECT_EQ(packet.GetPosition(), 0);
    packet.Seek(2, 0);
    packet.Seek(-3, 1);
    EXPECT_EQ(packet.GetPosition(), 2);
    // Past the end: every reader refuses, no matter how far.
    packet.Seek(0x7FFFFFF0L, 0);
    ExpectReadPastEnd<long>(packet);
}

TEST(KVNPacketRead, AdoptedBufferIsReleasedWithThePacket) {
    // ASan reports a leak here if the packet does not release what it adopted.
    auto* bytes = new unsigned char[8]{0, 0, 0, 0, 0x00, 0x41, 0x00, 0x07};
    auto* packet = new KVNPacket;
    ASSERT_EQ(packet->AdoptBuffer(bytes, 8), 1);
    EXPECT_FALSE(packet->IsBorrowed());
    EXPECT_EQ(packet->GetPacketID(), 65);
    delete packet;

    unsigned char tooShort[5] = {};
    KVNPacket refused;
    EXPECT_EQ(refused.AdoptBuffer(tooShort, 5), 0);  // stays the caller's
}

TEST(KVNPacketRead, WritingIntoABorrowedBufferCopiesItFirst) {
    unsigned char bytes[8] = {9, 9, 9, 9, 0x00, 0x41, 0x00, 0x00};
    KVNPacket packet;
    ASSERT_EQ(packet.SetBuffer(bytes, 8), 1);
    packet.Seek(2, 0);
    packet << long(0x01020304);  // 2 + 4 >= 4: grows into an owned block
    EXPECT_FALSE(packet.IsBorrowed());
    EXPECT_EQ(bytes[6], 0x00);  // the caller's bytes are untouched
    EXPECT_EQ(BodyOf(packet), (std::vector<unsigned char>{0x00, 0x41, 1, 2, 3, 4}));
}

}  // namespace
