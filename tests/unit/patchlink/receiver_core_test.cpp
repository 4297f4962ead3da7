// The download receiver's decisions: reads in, actions out, no I/O.
#include "patchlink/receiver_core.h"

#include <gtest/gtest.h>

#include "wire_bytes.h"

namespace {

const std::string kGreeting = "\x2a";

struct Facts : ReceiverFacts {
    int64_t freeBytes = int64_t(1) << 40;
    uint64_t localSize = 0;
    bool signedOnly = false;
    bool FreeBytes(uint64_t* bytes) override {
        *bytes = uint64_t(freeBytes);
        return freeBytes >= 0;
    }
    uint64_t LocalFileSize(const std::string&) override { return localSize; }
    bool SignedOnly() override { return signedOnly; }
};

std::string Render(const std::vector<ReceiverAction>& actions) {
    std::string out;
    for (const ReceiverAction& a : actions) {
        std::string v = std::to_string(a.value);
        // clang-format off
        const std::string texts[] = {"greeting", "list " + std::to_string(a.port) + " " + a.text,
            "refusal " + v + (a.failed ? " failed" : ""),
            "header " + v + " " + std::to_string(a.size),
            "no space", "start " + a.text + " at " + v + (a.whole ? " whole" : "") +
                (a.drop ? " dropped" : ""),
            "write " + std::to_string(a.length) + " to " + v, "repaint", "complete", "done", "ack"};
        // clang-format on
        out += (out.empty() ? "" : ", ") + texts[a.kind];
    }
    return out;
}

std::string Feed(ReceiverCore& core, const std::string& read, uint32_t now = 1000) {
    return Render(core.Feed(reinterpret_cast<const uint8_t*>(read.data()), read.size(), now));
}

struct Case {
    const char* what;
    uint64_t localSize;
    int64_t freeBytes;  // negative: the drive cannot be asked
    std::vector<std::string> reads;
    const char* actions;  // per read, separated by " | "
};

const int64_t kRoom = int64_t(1) << 40;
const std::string kName2491 = U32(8) + U32(10) + U16(2491) + "p";
const std::string kHost65535 = U32(0) + '\1' + U16(1) + U16(80) + U16(0xFFFF) + "h";

// clang-format off
const Case kCases[] = {
    {"new file", 0, kRoom, {kGreeting, Header(8, 5, "p.rtp"), "abcde"},
     "greeting | header 8 5, start p.rtp at 0 | write 5 to 5, complete, done, repaint, ack"},
    {"partial file", 1000, kRoom, {kGreeting, Header(8, 2600, "p.rtp"), "abc"},
     "greeting | header 8 2600, start p.rtp at 1000 | write 3 to 1003, ack"},
    {"complete file", 2600, kRoom, {kGreeting, Header(8, 2600, "p.rtp")},
     "greeting | header 8 2600, start p.rtp at 2600, complete, done, repaint"},
    {"longer local file", 2601, kRoom, {kGreeting, Header(8, 2600, "p.rtp")},
     "greeting | header 8 2600, start p.rtp at 0 whole"},
    {"t", 1000, kRoom, {kGreeting, Header(8, 2600, "notes.TXT")},
     "greeting | header 8 2600, start notes.TXT at 0 whole"},
    {"x", 1000, kRoom, {kGreeting, Header(8, 2600, "p.rtx")},
     "greeting | header 8 2600, start p.rtx at 0 whole"},
    {"past the size", 0, kRoom,
     {kGreeting, Header(8, 1000, "p"), std::string(700, 'a'), std::string(800, 'b')},
     "greeting | header 8 1000, start p at 0 | write 700 to 700, ack | "
     "write 300 to 1000, complete, done, repaint, ack"},
    {"refusal 1", 0, kRoom, {Refusal(1, {{11680, "a.example"}, {7, "10.0.0.1"}})},
     "list 11680 a.example, list 7 10.0.0.1, refusal 1 failed, done, repaint"},
    {"refusal 2", 0, kRoom, {kGreeting, Refusal(2, {})},
     "greeting | refusal 2 failed, done, repaint"},
    {"refusal 3", 0, kRoom, {Refusal(3, {{1, "b"}})}, "list 1 b, refusal 3, done, repaint"},
    {"refusal 9", 0, kRoom, {Refusal(9, {})}, "refusal 9, done, repaint"},
    {"device name", 0, kRoom, {kGreeting, Header(8, 10, "aux.rtp")},
     "greeting | header 8 10, done, repaint"},
    {"name past the buffer", 0, kRoom, {kGreeting, kName2491}, "greeting | done, repaint"},
    {"host past the buffer", 0, kRoom, {kHost65535}, "done, repaint"},
    {"7 MB, 10,499,999 free", 0, 10499999, {kGreeting, Header(8, 7000000, "p")},
     "greeting | header 8 7000000, no space"},
    {"7 MB, 10,500,000 free", 0, 10500000, {kGreeting, Header(8, 7000000, "p")},
     "greeting | header 8 7000000, start p at 0"},
    {"4 GB, 32-bit overflow", 0, 0xFFFFFFFF, {kGreeting, Header(8, 0xFFFFFFFF, "p")},
     "greeting | header 8 4294967295, no space"},
    {"free space unknown", 0, -1, {kGreeting, Header(8, 7000000, "p")},
     "greeting | header 8 7000000, start p at 0"},
};
// clang-format on

TEST(ReceiverCore, ReadsToActions) {
    for (const Case& c : kCases) {
        Facts facts;
        facts.freeBytes = c.freeBytes;
        facts.localSize = c.localSize;
        ReceiverCore core(facts, 1000);
        std::string actions;
        for (const std::string& read : c.reads)
            actions += (actions.empty() ? "" : " | ") + Feed(core, read);
        EXPECT_EQ(actions, c.actions) << c.what;
    }
}

// A signed-only install receives a served program or data file to its end
// but touches no file of that name, a player's own included: no resume from
// it, no deletion. Patches are received as anywhere else.
TEST(ReceiverCore, ASignedOnlyInstallDropsServedProgramsAndDataFiles) {
    const std::pair<const char*, const char*> cases[] = {
        {"1to2.EXE", "header 8 5, start 1to2.EXE at 0 dropped | write 5 to 5, complete"},
        {"Notes.txt", "header 8 5, start Notes.txt at 0 dropped | write 5 to 5, complete"},
        {"x.rtX", "header 8 5, start x.rtX at 0 dropped | write 5 to 5, complete"},
        {"1to2.rtp", "header 8 5, start 1to2.rtp at 3 | write 2 to 5, complete"}};
    for (const auto& [name, expected] : cases) {
        Facts facts;
        facts.signedOnly = true;
        facts.localSize = 3;
        ReceiverCore core(facts, 1000);
        Feed(core, kGreeting);
        std::string actions = Feed(core, Header(8, 5, name));
        actions += " | " + Feed(core, "abcde");
        EXPECT_EQ(actions.substr(0, actions.find(", done")), expected) << name;
    }
}

// An answer split at any point is gathered into the same actions.
TEST(ReceiverCore, SplitAnswersAreGathered) {
    for (const std::string& answer : {Header(8, 3, "ab.rtp"), Refusal(2, {{1, "a"}, {2, "bc"}})}) {
        Facts facts;
        ReceiverCore whole(facts, 1000);
        Feed(whole, kGreeting);
        const std::string expected = Feed(whole, answer);
        for (size_t at = 1; at < answer.size(); ++at) {
            ReceiverCore split(facts, 1000);
            Feed(split, kGreeting);
            EXPECT_EQ(Feed(split, answer.substr(0, at)), "") << at;
            EXPECT_EQ(Feed(split, answer.substr(at)), expected) << at;
        }
    }
}

TEST(ReceiverCore, RepaintsAtMostEvery250MsAcrossTheWrap) {
    const uint32_t start = 0xFFFFFF00u;  // the tick wraps 256 ms later
    Facts facts;
    ReceiverCore core(facts, start);
    Feed(core, kGreeting, start);
    Feed(core, Header(8, 6, "p.rtp"), start);
    const std::pair<uint32_t, const char*> steps[] = {
        {100, "write 1 to 1, ack"},          {250, "write 1 to 2, ack"},
        {300, "write 1 to 3, repaint, ack"}, {550, "write 1 to 4, ack"},
        {551, "write 1 to 5, repaint, ack"}, {552, "write 1 to 6, complete, done, repaint, ack"}};
    for (const auto& step : steps) EXPECT_EQ(Feed(core, "d", start + step.first), step.second);
    EXPECT_TRUE(core.Done());
    EXPECT_EQ(Feed(core, "more", start + 999), "");
}

}  // namespace
