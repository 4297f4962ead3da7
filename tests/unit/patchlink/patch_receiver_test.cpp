#include "patchlink/patch_receiver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "patchlink/stream_connection.h"
#include "platform/debug.h"
#include "platform/system.h"
#include "platform/time.h"
#include "receiver_fixture.h"
#include "ui/language_file.h"

namespace {

constexpr uint32_t kTarget = 8;

uint32_t Offset(const Bytes& b) {
    return b.size() == 4
               ? (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3])
               : 0xFFFFFFFFu;
}

// The usual server: greets, takes the request, sends the header, takes the
// resume offset and sends the rest of `content` in chunks of `chunk`.
struct Server {
    std::string name;
    Bytes content;
    size_t chunk = 1000;
    std::atomic<uint32_t> offset{0xFFFFFFFFu};
    std::atomic<uint32_t> request{0};

    void operator()(PeerSocket& peer) {
        peer.Send({0x2A});
        request = Offset(peer.Read(4));
        peer.Send(Header(kTarget, uint32_t(content.size()), name));
        offset = Offset(peer.Read(4));
        for (size_t at = offset; at < content.size(); at += chunk)
            peer.Send(Bytes(content.begin() + long(at),
                            content.begin() + long(std::min(content.size(), at + chunk))));
        peer.WaitClosed();
    }
};

TEST_F(ReceiverTest, GreetingSetsOnlyDownloadReady) {
    Start([this](PeerSocket& peer) {
        peer.Send({0xFF});
        AwaitPoke(peer, poke_);
    });
    ASSERT_TRUE(WaitUntil([] { return run::downloadReady.load() != 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(run::downloadFailed, 0);
    EXPECT_EQ(run::downloadComplete, 0);
    EXPECT_EQ(run::doneFlag, 0);
    EXPECT_EQ(run::receiveState, 1);
    EXPECT_EQ(run::workingVersion, kInstalledVersion);
    EXPECT_EQ(run::receiverRunning, 1);
    StopReceiver();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(run::receiverRunning, 0);
    EXPECT_TRUE(Traced("Init Func\r\n"));
}

TEST_F(ReceiverTest, NewFileIsFetchedWholeAndCompletes) {
    auto server = std::make_shared<Server>();
    server->name = "p7to8.rtp";
    server->content = Content(12345);
    Start([server](PeerSocket& peer) { (*server)(peer); });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(server->request, kInstalledVersion);
    EXPECT_EQ(server->offset, 0u);
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_EQ(run::doneFlag, 1);
    EXPECT_EQ(run::patchFileSize, 12345u);
    EXPECT_EQ(run::patchBytesReceived, 12345u);
    EXPECT_EQ(run::workingVersion, kTarget);
    EXPECT_EQ(run::patchTargetVersion, kTarget);
    EXPECT_STREQ(run::patchFileName.load(), "p7to8.rtp");
    EXPECT_TRUE(FileContent("p7to8.rtp") ==
                std::string(server->content.begin(), server->content.end()));
    EXPECT_TRUE(Traced("Woohoo on Update\r\n"));
    EXPECT_TRUE(Traced("TTTTTTT: "));
    EXPECT_TRUE(Traced("p7to8.rtp"));
    EXPECT_TRUE(Traced("Value 12345 - 12345\r\n"));
    // The completion always repaints, so that the dialog closes.
    EXPECT_GE(CountTouches(platform::UiTouch::kRepaint), 1);
}

TEST_F(ReceiverTest, ExistingFileIsResumedAtItsEnd) {
    auto server = std::make_shared<Server>();
    server->name = "data.rtp";
    server->content = Content(2600);
    WriteFile("data.rtp", Bytes(server->content.begin(), server->content.begin() + 1000));
    std::atomic<uint32_t> countAtOffset{0};
    Start([&, server](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 2600, "data.rtp"));
        server->offset = Offset(peer.Read(4));
        countAtOffset = run::patchBytesReceived.load();
        peer.Send(Bytes(server->content.begin() + 1000, server->content.end()));
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(server->offset, 1000u);
    EXPECT_EQ(countAtOffset, 1000u);
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_TRUE(FileContent("data.rtp") ==
                std::string(server->content.begin(), server->content.end()));
}

class WholeFetchTest : public ReceiverTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WholeFetchTest, NamesEndingInTOrXAreFetchedWhole) {
    auto server = std::make_shared<Server>();
    server->name = GetParam();
    server->content = Content(1500, 9);
    WriteFile(server->name, Content(1000, 200));
    Start([server](PeerSocket& peer) { (*server)(peer); });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(server->offset, 0u);
    EXPECT_TRUE(FileContent(server->name) ==
                std::string(server->content.begin(), server->content.end()));
}
INSTANTIATE_TEST_SUITE_P(AnyCase, WholeFetchTest,
                         ::testing::Values("patch.rtx", "PATCH.RTX", "notes.txt", "NOTES.TXT"));

TEST_F(ReceiverTest, FileAlreadyCompleteEndsWithoutData) {
    Bytes content = Content(1000);
    WriteFile("done.rtp", content);
    std::atomic<uint32_t> offset{0};
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 1000, "done.rtp"));
        offset = Offset(peer.Read(4));
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(offset, 1000u);
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_EQ(FileContent("done.rtp").size(), 1000u);
    EXPECT_FALSE(Traced("Downloading\r\n"));
}

TEST_F(ReceiverTest, OneByteReadsAreAppendedAndCounted) {
    Bytes content = Content(5);
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 5, "tiny.rtp"));
        peer.Read(4);
        for (uint32_t i = 0; i < 5; ++i) {
            peer.Send({content[i]});
            // One byte per read: the next goes only once this one is counted.
            WaitUntil([i] { return run::patchBytesReceived.load() == i + 1; });
        }
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_TRUE(FileContent("tiny.rtp") == std::string(content.begin(), content.end()));
    EXPECT_TRUE(Traced("Value 1 - 5\r\n"));
    EXPECT_TRUE(Traced("Value 4 - 5\r\n"));
}

struct RefusalCase {
    uint8_t reason;
    size_t alternatives;
    bool failed;  // downloadFailed and downloadReady
    const char* trace;
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << "reason " << int(c.reason) << ", " << c.alternatives << " alternatives";
}

class RefusalTest : public ReceiverTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, RefusalFlagsAndAlternatives) {
    const RefusalCase& c = GetParam();
    std::vector<Alternative> alternatives;
    for (size_t i = 0; i < c.alternatives; ++i)
        alternatives.push_back({uint16_t(11679 + i), "alt" + std::to_string(i) + ".example"});
    // The refusal comes in place of the greeting, as from a full server.
    Start([&](PeerSocket& peer) {
        peer.Send(Refusal(c.reason, alternatives));
        peer.WaitClosed();
    });
    ASSERT_TRUE(Finished());
    EXPECT_EQ(run::doneFlag, 1);
    EXPECT_EQ(run::downloadFailed, c.failed ? 1 : 0);
    EXPECT_EQ(run::downloadReady, c.failed ? 1 : 0);
    EXPECT_EQ(run::downloadComplete, 0);
    EXPECT_EQ(run::workingVersion, 0u);
    EXPECT_EQ(run::patchTargetVersion, 0u);
    EXPECT_EQ(run::receiverRunning, 0);
    EXPECT_TRUE(Traced("Yeah un Erreuur!\r\n"));
    if (c.trace) {
        EXPECT_TRUE(Traced(c.trace));
    }
    auto list = TakeServerList();
    ASSERT_EQ(list.size(), c.alternatives);
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].first, alternatives[i].port);
        EXPECT_EQ(list[i].second, alternatives[i].host);
    }
    // A connecting dialog that is up gets the repaint that closes it.
    EXPECT_EQ(CountTouches(platform::UiTouch::kRepaint), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, RefusalTest,
    ::testing::Values(RefusalCase{1, 0, true, "No valid patch!\r\n"},
                      RefusalCase{1, 3, true, "No valid patch!\r\n"},
                      RefusalCase{2, 0, true, "Server Full!\r\n"},
                      RefusalCase{2, 3, true, "Server Full!\r\n"},
                      RefusalCase{3, 0, false, "Server is not up to date!\r\n"},
                      RefusalCase{3, 3, false, "Server is not up to date!\r\n"},
                      RefusalCase{9, 0, false, nullptr}, RefusalCase{9, 3, false, nullptr}));

TEST_F(ReceiverTest, RefusalAfterTheRequestEndsTheReceiver) {
    Start([](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Refusal(1, {{7000, "next.example"}}));
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(run::downloadFailed, 1);
    EXPECT_EQ(run::downloadComplete, 0);
    EXPECT_EQ(TakeServerList().size(), 1u);
}

class DiskSpaceTest : public ReceiverTest, public ::testing::WithParamInterface<int64_t> {};

// A 7,000,000-byte file needs 10,500,000 free bytes.
TEST_P(DiskSpaceTest, FreeSpaceMustCoverHalfAgainTheFileSize) {
    const bool enough = GetParam() >= 10500000;
    platform::SetFreeBytesForTests(GetParam());
    std::atomic<bool> offsetSent{false};
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 7000000, "big.rtp"));
        offsetSent = peer.Read(4, 300).size() == 4;
        AwaitPoke(peer, poke_);
    });
    SendVersionRequest();
    ASSERT_TRUE(WaitUntil([&] { return offsetSent.load() || run::patchFileSize.load() != 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(offsetSent.load(), enough);
    EXPECT_EQ(run::receiveState, enough ? 2 : 1);
    auto touches = platform::TakeUiTouches();
    bool noSpaceShown = false;
    std::string text183 = GetLanguageText(183);
    for (const auto& t : touches)
        if (t.kind == platform::UiTouch::kSetItemText && t.window == kDialog && t.itemId == 1008 &&
            t.text == text183)
            noSpaceShown = true;
    EXPECT_EQ(noSpaceShown, !enough);
    EXPECT_EQ(FilesHere().size(), enough ? 1u : 0u);
    StopReceiver();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(run::downloadComplete, 0);
}
INSTANTIATE_TEST_SUITE_P(Edge, DiskSpaceTest, ::testing::Values(10000000, 10499999, 10500000));

TEST_F(ReceiverTest, NoOverflowForTheLargestFile) {
    // 0xFFFFFFFF x 150 overflows 32 bits; the test must still refuse.
    platform::SetFreeBytesForTests(int64_t(0xFFFFFFFFu));
    Start([this](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 0xFFFFFFFFu, "huge.rtp"));
        AwaitPoke(peer, poke_);
    });
    SendVersionRequest();
    ASSERT_TRUE(WaitUntil([] { return run::patchFileSize.load() == 0xFFFFFFFFu; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(run::receiveState, 1);
    StopReceiver();
    ASSERT_TRUE(Finished());
}

TEST_F(ReceiverTest, AnswerSplitOverTwoReadsIsGathered) {
    Bytes content = Content(300);
    Bytes header = Header(kTarget, 300, "split.rtp");
    std::atomic<uint32_t> offset{1};
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Bytes(header.begin(), header.begin() + 13));  // inside the name
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        peer.Send(Bytes(header.begin() + 13, header.end()));
        offset = Offset(peer.Read(4));
        peer.Send(content);
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_TRUE(FileContent("split.rtp") == std::string(content.begin(), content.end()));
}

TEST_F(ReceiverTest, RefusalSplitInsideAnEntryIsGathered) {
    Bytes refusal = Refusal(2, {{1, "first"}, {2, "second"}});
    Start([&](PeerSocket& peer) {
        peer.Send(Bytes(refusal.begin(), refusal.begin() + 9));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        peer.Send(Bytes(refusal.begin() + 9, refusal.end()));
        peer.WaitClosed();
    });
    ASSERT_TRUE(Finished());
    EXPECT_EQ(run::downloadFailed, 1);
    auto list = TakeServerList();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].second, "second");
}

struct MalformedCase {
    const char* what;
    Bytes answer;
};
void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.what; }

class MalformedTest : public ReceiverTest, public ::testing::WithParamInterface<MalformedCase> {};

// Lengths that point past what the buffer can hold, and names that are not
// plain file names: nothing is written, nothing is listed, the receiver
// stops with the download incomplete.
TEST_P(MalformedTest, NothingWrittenAndDownloadEndsIncomplete) {
    Bytes answer = GetParam().answer;
    std::atomic<bool> sentOffset{false};
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(answer);
        sentOffset = peer.Read(4, 200).size() == 4;
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_FALSE(sentOffset.load());
    EXPECT_EQ(run::doneFlag, 1);
    EXPECT_EQ(run::downloadComplete, 0);
    EXPECT_EQ(run::downloadFailed, 0);
    EXPECT_EQ(run::receiverRunning, 0);
    EXPECT_EQ(run::patchFileName.load(), nullptr);
    EXPECT_TRUE(FilesHere().empty());
    EXPECT_TRUE(TakeServerList().empty());
    EXPECT_EQ(CountTouches(platform::UiTouch::kRepaint), 1);
}

Bytes NameLength(uint16_t length) {
    return Cat({U32(kTarget), U32(10), U16(length), Text("x.rtp")});
}
Bytes HostLength(uint16_t length) {
    return Cat(
        {U32(0), Bytes{1}, U16(2), U16(80), U16(1), Text("a"), U16(81), U16(length), Text("b")});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MalformedTest,
    ::testing::Values(MalformedCase{"name length past the buffer", NameLength(4000)},
                      MalformedCase{"host length past the buffer", HostLength(3000)},
                      MalformedCase{"separator", Header(kTarget, 10, "sub/x.rtp")},
                      MalformedCase{"backslash", Header(kTarget, 10, "..\\x.rtp")},
                      MalformedCase{"parent", Header(kTarget, 10, "..")},
                      MalformedCase{"drive", Header(kTarget, 10, "C:x.rtp")},
                      MalformedCase{"empty", Header(kTarget, 10, "")}),
    [](const ::testing::TestParamInfo<MalformedCase>& p) {
        std::string name = p.param.what;
        for (char& c : name)
            if (c == ' ') c = '_';
        return name;
    });

TEST_F(ReceiverTest, LengthPastTheDataWaitsForTheRest) {
    // The name is announced with 20 bytes, 5 arrive: nothing happens yet.
    Start([this](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(NameLength(20));
        AwaitPoke(peer, poke_);
    });
    SendVersionRequest();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(run::patchFileSize, 0u);
    EXPECT_EQ(run::receiveState, 1);
    EXPECT_TRUE(FilesHere().empty());
    StopReceiver();
    ASSERT_TRUE(Finished());
    EXPECT_TRUE(FilesHere().empty());
}

TEST_F(ReceiverTest, LocalFileLongerThanAnnouncedIsFetchedAgain) {
    auto server = std::make_shared<Server>();
    server->name = "long.rtp";
    server->content = Content(1000, 3);
    WriteFile("long.rtp", Content(2000, 99));
    Start([server](PeerSocket& peer) { (*server)(peer); });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(server->offset, 0u);
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_TRUE(FileContent("long.rtp") ==
                std::string(server->content.begin(), server->content.end()));
}

TEST_F(ReceiverTest, BytesBeyondTheAnnouncedSizeAreNotWritten) {
    Bytes content = Content(1500);
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 1000, "over.rtp"));
        peer.Read(4);
        peer.Send(content);
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(run::downloadComplete, 1);
    EXPECT_EQ(run::patchBytesReceived, 1000u);
    EXPECT_TRUE(FileContent("over.rtp") == std::string(content.begin(), content.begin() + 1000));
}

TEST_F(ReceiverTest, FileThatCannotBeOpenedEndsIncomplete) {
    ASSERT_EQ(mkdir("taken.rtp", 0755), 0);
    std::atomic<bool> sentOffset{false};
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, 10, "taken.rtp"));
        sentOffset = peer.Read(4, 200).size() == 4;
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    EXPECT_FALSE(sentOffset.load());
    EXPECT_EQ(run::doneFlag, 1);
    EXPECT_EQ(run::downloadComplete, 0);
}

std::atomic<uint32_t> g_tick{0};
uint32_t TestTick() { return g_tick.load(); }

TEST_F(ReceiverTest, ProgressRepaintsAtMostEvery250Ms) {
    platform::SetTickSource(TestTick);
    g_tick = 0xFFFFFFA0u;
    run::lastSendTick = 0xFFFFFFA0u;
    // Tick at each chunk, and whether that chunk repaints (> 250 ms since
    // the last repaint).
    const std::vector<std::pair<uint32_t, bool>> steps = {{0xFFFFFFA0u + 100, false},
                                                          {0xFFFFFFA0u + 250, false},
                                                          {0xFFFFFFA0u + 251, true},
                                                          {0xFFFFFFA0u + 400, false},
                                                          {0xFFFFFFA0u + 502, true}};
    std::vector<int> repaints;
    Start([&](PeerSocket& peer) {
        peer.Send({1});
        peer.Read(4);
        peer.Send(Header(kTarget, uint32_t(steps.size() + 1), "paced.rtp"));
        peer.Read(4);
        for (size_t i = 0; i < steps.size(); ++i) {
            g_tick = steps[i].first;
            peer.Send({uint8_t(i)});
            WaitUntil([i] { return run::patchBytesReceived.load() == i + 1; });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            repaints.push_back(CountTouches(platform::UiTouch::kRepaint));
        }
        peer.Send({0xEE});
        peer.WaitClosed();
    });
    SendVersionRequest();
    ASSERT_TRUE(Finished());
    ASSERT_EQ(repaints.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(repaints[i], steps[i].second ? 1 : 0) << i;
    EXPECT_EQ(CountTouches(platform::UiTouch::kRepaint), 1);  // the completion's
}

TEST_F(ReceiverTest, SecondReceiverEndsAtOnce) {
    run::receiverRunning = 1;
    EXPECT_EQ(PatchReceiverThread(nullptr), 0u);
    EXPECT_EQ(run::receiverRunning, 1);
    EXPECT_TRUE(Traced("Init Func\r\n"));
    EXPECT_FALSE(Traced("Receive something!"));
    run::receiverRunning = 0;
}

TEST_F(ReceiverTest, NoPassWhenAlreadyDone) {
    run::doneFlag = 1;
    EXPECT_EQ(PatchReceiverThread(nullptr), 0u);
    EXPECT_EQ(run::receiverRunning, 0);
}

}  // namespace
