// The answer to message 65 byte for byte, checked against bytes worked out
// by hand and against an independent reader of the wire format.
#include "version_answer.h"

#include <gtest/gtest.h>

#include "answer_reader.h"

namespace {

TEST(VersionAnswer, EmptyListIsTheExactDatagram) {
    // Body 00 41 | 00 00 00 07 | 00 00 scrambled with the keystream of
    // seed 1 (146 179 100 165 118 215 200 73); checksum 0x41 + 7.
    VersionAnswer answer(7, {});
    EXPECT_EQ(answer.EncodeWithSeed(1),
              (Bytes{0x01, 0x00, 0x48, 0x00, 0x92, 0xF2, 0x64, 0xA5, 0x76, 0xD0, 0xC8, 0x49}));
}

TEST(VersionAnswer, FullRangeFieldsAreUnsignedAndMostSignificantFirst) {
    // The top version and port would come out wrong through a signed or
    // host-order write; seed 512 shows the seed's high byte in the header.
    VersionAnswer answer(0xFFFFFFFFu, {{"ab", 65535}});
    EXPECT_EQ(answer.EncodeWithSeed(512),
              (Bytes{0x00, 0x02, 0x01, 0x07, 0x01, 0xD3, 0x4C, 0x9B, 0x5A, 0x89, 0xD7, 0xC9, 0xB6,
                     0xA5, 0xFB, 0x2E, 0x8C, 0x5C}));
}

TEST(VersionAnswer, ListReadsBackInOrderWithLengthPrefixedNames) {
    std::string longest(99, 'h');
    VersionAnswer answer(0x01020304,
                         {{"patch1.example.net", 11679}, {"10.0.0.5", 80}, {longest, 1}});
    Bytes message = answer.EncodeWithSeed(300);
    ASSERT_GE(message.size(), 4u);
    EXPECT_EQ(message[0] | message[1] << 8, 300);
    Bytes body;
    ASSERT_TRUE(DecipherMessage(message, &body));
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 12),
              (Bytes{0x00, 0x41, 0x01, 0x02, 0x03, 0x04, 0x00, 0x03, 0x2D, 0x9F, 0x00, 0x12}));
    ReadAnswer read;
    ASSERT_TRUE(ReadAnswerBody(body, &read));
    EXPECT_EQ(read.id, 65);
    EXPECT_EQ(read.version, 0x01020304u);
    using Server = std::pair<std::string, uint16_t>;
    EXPECT_EQ(read.servers,
              (std::vector<Server>{{"patch1.example.net", 11679}, {"10.0.0.5", 80}, {longest, 1}}));
    EXPECT_EQ(message.size(), VersionAnswer::EncodedSize(answer.Servers()));
}

TEST(VersionAnswer, ClockSeededAnswerStaysInTheSeedRangeAndDeciphers) {
    VersionAnswer answer(9, {{"a", 2}});
    Bytes message = answer.Encode();
    EXPECT_LE(message[0] | message[1] << 8, 512);
    Bytes body;
    ASSERT_TRUE(DecipherMessage(message, &body));
    ReadAnswer read;
    ASSERT_TRUE(ReadAnswerBody(body, &read));
    EXPECT_EQ(read.version, 9u);
    ASSERT_EQ(read.servers.size(), 1u);
    EXPECT_EQ(read.servers[0].first, "a");
}

}  // namespace
