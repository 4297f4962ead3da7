#include "patchlink/patch_answer.h"

#include <gtest/gtest.h>

#include "scripted_peer.h"

namespace {

PatchAnswer Parse(const Bytes& bytes) { return PatchAnswer::Parse(bytes.data(), bytes.size()); }

TEST(PatchAnswer, HeaderDecodesBigEndianFields) {
    PatchAnswer a = Parse(Header(0x01020304, 0xA0B0C0D0, "p7to8.rtp"));
    ASSERT_EQ(a.kind, PatchAnswer::Kind::kHeader);
    EXPECT_EQ(a.version, 0x01020304u);
    EXPECT_EQ(a.fileSize, 0xA0B0C0D0u);
    EXPECT_EQ(a.fileName, "p7to8.rtp");
    EXPECT_EQ(a.length, 19u);
}

TEST(PatchAnswer, RefusalKeepsAlternativesInOrder) {
    PatchAnswer a = Parse(Refusal(2, {{11679, "one.example"}, {80, ""}, {65535, "10.0.0.3"}}));
    ASSERT_EQ(a.kind, PatchAnswer::Kind::kRefusal);
    EXPECT_EQ(a.version, 0u);
    EXPECT_EQ(a.reason, 2);
    ASSERT_EQ(a.alternatives.size(), 3u);
    EXPECT_EQ(a.alternatives[0].port, 11679);
    EXPECT_EQ(a.alternatives[0].host, "one.example");
    EXPECT_EQ(a.alternatives[1].port, 80);
    EXPECT_EQ(a.alternatives[1].host, "");
    EXPECT_EQ(a.alternatives[2].port, 65535);
    EXPECT_EQ(a.alternatives[2].host, "10.0.0.3");
}

// Every proper prefix of a valid answer is incomplete, never a shorter
// answer or garbage: that is what lets the receiver gather across reads.
TEST(PatchAnswer, EveryPrefixIsIncomplete) {
    for (const Bytes& whole :
         {Header(9, 100, "abc.rtp"), Refusal(1, {{1, "a"}, {2, "bc"}}), Refusal(3, {})}) {
        for (size_t n = 0; n < whole.size(); ++n)
            EXPECT_EQ(PatchAnswer::Parse(whole.data(), n).kind, PatchAnswer::Kind::kIncomplete)
                << "prefix " << n;
        EXPECT_NE(Parse(whole).kind, PatchAnswer::Kind::kIncomplete);
    }
}

TEST(PatchAnswer, BytesAfterTheAnswerAreNotPartOfIt) {
    PatchAnswer a = Parse(Cat({Header(5, 6, "ab"), Text("extra")}));
    ASSERT_EQ(a.kind, PatchAnswer::Kind::kHeader);
    EXPECT_EQ(a.fileName, "ab");
    EXPECT_EQ(a.length, 12u);
}

TEST(PatchAnswer, LengthsThatCannotFitTheBufferAreMalformed) {
    // The name would end at 10 + 2491 = 2501 bytes: one past the buffer.
    Bytes longName = Cat({U32(1), U32(1), U16(2491)});
    EXPECT_EQ(Parse(longName).kind, PatchAnswer::Kind::kMalformed);
    Bytes fits = Cat({U32(1), U32(1), U16(2490), Bytes(2490, 'a')});
    EXPECT_EQ(Parse(fits).kind, PatchAnswer::Kind::kHeader);

    Bytes longHost = Cat({U32(0), Bytes{1}, U16(1), U16(7), U16(0xFFFF)});
    EXPECT_EQ(Parse(longHost).kind, PatchAnswer::Kind::kMalformed);
    // 700 entries of at least 4 bytes each can never fit.
    Bytes manyEntries = Cat({U32(0), Bytes{1}, U16(700)});
    for (int i = 0; i < 700; ++i) manyEntries = Cat({manyEntries, U16(1), U16(0)});
    EXPECT_EQ(Parse(manyEntries).kind, PatchAnswer::Kind::kMalformed);
}

TEST(PatchAnswer, PlainFileNamesOnly) {
    for (const char* good : {"p1to2.rtp", "PATCH.EXE", "a.b.c", "name with space", "x"})
        EXPECT_TRUE(IsPlainFileName(good)) << good;
    for (const char* bad : {"", "..", ".", "../x", "a/b", "a\\b", "C:x", "c:", "a..b", "\x01x"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
    EXPECT_FALSE(IsPlainFileName(std::string("a\0b", 3)));
}

}  // namespace
