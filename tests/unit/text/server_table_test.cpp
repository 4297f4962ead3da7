#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "temp_dir.h"
#include "ui/server_table.h"

namespace {

std::string Record(const std::string& name, const char* lineEnd = "\n") {
    std::string record = name + lineEnd;
    record += name + ".example.com:11677" + lineEnd;
    record += "patch." + name + lineEnd;
    record += "About " + name + lineEnd;
    record += "Visit " + name + lineEnd;
    record += "https://" + name + ".example.com/" + lineEnd;
    return record;
}

std::string Records(int count, const char* lineEnd = "\n") {
    std::string all;
    for (int i = 0; i < count; ++i) all += Record("server" + std::to_string(i), lineEnd);
    return all;
}

class ServerTableTest : public ::testing::Test {
protected:
    int Load(const std::string& contents) {
        dir_.WriteFile("ServerList.Txt", contents);
        return LoadServerList();
    }

    TempDir dir_;
};

void ExpectRecord(const ServerRecord& record, const std::string& name) {
    EXPECT_EQ(std::string(record.name), name);
    EXPECT_EQ(std::string(record.address), name + ".example.com:11677");
    EXPECT_EQ(std::string(record.patchServer), "patch." + name);
    EXPECT_EQ(std::string(record.description), "About " + name);
    EXPECT_EQ(std::string(record.linkCaption), "Visit " + name);
    EXPECT_EQ(std::string(record.linkTarget), "https://" + name + ".example.com/");
}

TEST_F(ServerTableTest, LoadsRecordsAndLeavesTheSlotsAfterThemEmpty) {
    for (const char* lineEnd : {"\n", "\r\n"}) {
        SCOPED_TRACE(lineEnd[0] == '\r' ? "CR LF" : "LF");
        ASSERT_EQ(Load(Records(3, lineEnd)), 3);
        ExpectRecord(serverTable.slots[0], "server0");
        ExpectRecord(serverTable.slots[2], "server2");
        for (int slot : {3, 4}) {
            EXPECT_STREQ(serverTable.slots[slot].name, "");
            EXPECT_STREQ(serverTable.slots[slot].linkTarget, "");
        }
    }
}

TEST_F(ServerTableTest, LastLineWithoutLineEndAndCarriageReturnsInsideFields) {
    std::string contents = Record("a");
    contents += "b\r\r\nhost\r\n\r\nmid\rdle\r\ncap\r\ntarget";
    ASSERT_EQ(Load(contents), 2);
    EXPECT_STREQ(serverTable.slots[1].name, "b");
    EXPECT_STREQ(serverTable.slots[1].patchServer, "");
    EXPECT_STREQ(serverTable.slots[1].description, "middle");
    EXPECT_STREQ(serverTable.slots[1].linkTarget, "target");
}

TEST_F(ServerTableTest, ANameRepeatingThePreviousOneEndsTheList) {
    EXPECT_EQ(Load(Record("same") + Record("same") + Record("other")), 0);
    // The record before the repeat is dropped too.
    EXPECT_EQ(Load(Record("a") + Record("b") + Record("b") + Record("c")), 1);
    EXPECT_STREQ(serverTable.slots[0].name, "a");
}

TEST_F(ServerTableTest, LinesOver499BytesSplitAndShiftTheFields) {
    const std::string name(499, 'n');
    std::string contents = name + "X\n" + Records(1).substr(std::strlen("server0\n"));
    // The sixth line spills into the next record, which becomes a record too.
    ASSERT_EQ(Load(contents), 2);
    EXPECT_EQ(std::string(serverTable.slots[0].name), name);
    EXPECT_STREQ(serverTable.slots[0].address, "X");
    EXPECT_STREQ(serverTable.slots[0].patchServer, "server0.example.com:11677");
    EXPECT_STREQ(serverTable.slots[0].linkTarget, "Visit server0");
    EXPECT_STREQ(serverTable.slots[1].name, "https://server0.example.com/");
    // 498 characters and the line feed are one line: nothing shifts.
    ASSERT_EQ(Load(std::string(498, 'm') + "\n" + Records(1).substr(std::strlen("server0\n"))), 1);
    EXPECT_STREQ(serverTable.slots[0].address, "server0.example.com:11677");
}

TEST_F(ServerTableTest, LongListsStopAtTheEndOfTheTable) {
    EXPECT_EQ(Load(Records(198)), 198);
    EXPECT_EQ(Load(Records(199)), 199);
    ExpectRecord(serverTable.slots[198], "server198");
    EXPECT_STREQ(serverTable.slots[199].name, "");
    EXPECT_EQ(Load(Records(250)), kServerSlots);
    ExpectRecord(serverTable.slots[kServerSlots - 1], "server199");
    // A repeat in the last slot still ends the list before it.
    EXPECT_EQ(Load(Records(199) + Record("server198")), 198);
}

TEST_F(ServerTableTest, ReloadingAShorterListForgetsTheOldRecords) {
    ASSERT_EQ(Load(Records(5)), 5);
    ASSERT_EQ(Load(Record("only")), 1);
    EXPECT_STREQ(serverTable.slots[1].name, "");
    EXPECT_EQ(FindServerRecord("server3"), nullptr);
}

TEST_F(ServerTableTest, MissingFileFailsAndKeepsTheTable) {
    ASSERT_EQ(Load(Records(2)), 2);
    std::remove("ServerList.Txt");
    EXPECT_EQ(LoadServerList(), -1);
    ExpectRecord(serverTable.slots[1], "server1");
}

TEST_F(ServerTableTest, FindServerRecordMatchesTheWholeNameExactly) {
    ASSERT_EQ(Load(Record("Alpha") + Record("Beta") + Record("alpha")), 3);
    EXPECT_EQ(FindServerRecord("Alpha"), &serverTable.slots[0]);
    EXPECT_EQ(FindServerRecord("alpha"), &serverTable.slots[2]);
    EXPECT_EQ(FindServerRecord("Beta"), &serverTable.slots[1]);
    EXPECT_EQ(FindServerRecord("Alph"), nullptr);
    EXPECT_EQ(FindServerRecord("Alpha "), nullptr);
    EXPECT_EQ(FindServerRecord("Gamma"), nullptr);
}

TEST(StripLineEnd, RemovesEveryCarriageReturnAndLineFeed) {
    char text[] = "\ra\nb\r\nc\r";
    StripLineEnd(text);
    EXPECT_STREQ(text, "abc");
    char empty[] = "";
    StripLineEnd(empty);
    EXPECT_STREQ(empty, "");
    char plain[] = "no line end";
    StripLineEnd(plain);
    EXPECT_STREQ(plain, "no line end");
}

}  // namespace
