#include "patchlink/stream_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "patchlink/patch_receiver.h"
#include "platform/debug.h"
#include "scripted_peer.h"
#include "ui/language_file.h"

namespace {

void ConnectTo(StreamConnection& c, uint16_t port, bool waitOnReceive = true) {
    c.SetHost("127.0.0.1");
    c.SetPort(port);
    c.SetSocketType(1);
    c.SetWaitModes(true, waitOnReceive);
}

TEST(StreamConnection, SendTracesEveryByteAsSigned) {
    Bytes received;
    ScriptedPeer peer([&](PeerSocket& p) {
        received = p.Read(4);
        p.WaitClosed();
    });
    StreamConnection c;
    ConnectTo(c, peer.Port());
    ASSERT_EQ(c.Connect(), 1);
    platform::TakeDebugOutput();
    const uint8_t message[] = {0x01, 0xFF, 0x80, 0x7F};
    c.Send(message, 4);
    auto traces = platform::TakeDebugOutput();
    ASSERT_EQ(traces.size(), 7u);
    EXPECT_TRUE(std::regex_match(traces[0], std::regex(R"(Byte send \[4\] - \[-?\d+\]\r\n)")))
        << traces[0];
    EXPECT_EQ(traces[1], "Sending ");
    EXPECT_EQ(traces[2], "[1] ");
    EXPECT_EQ(traces[3], "[-1] ");
    EXPECT_EQ(traces[4], "[-128] ");
    EXPECT_EQ(traces[5], "[127] ");
    EXPECT_EQ(traces[6], "Send Packet!\r\n");
    c.Close();
    peer.Join();
    EXPECT_EQ(received, (Bytes{0x01, 0xFF, 0x80, 0x7F}));
}

TEST(StreamConnection, ZeroByteSendStillTracesAndPauses) {
    ScriptedPeer peer([](PeerSocket& p) { p.WaitClosed(); });
    StreamConnection c;
    ConnectTo(c, peer.Port());
    ASSERT_EQ(c.Connect(), 1);
    platform::TakeDebugOutput();
    auto before = std::chrono::steady_clock::now();
    c.Send(nullptr, 0);
    auto elapsed = std::chrono::steady_clock::now() - before;
    EXPECT_GE(elapsed, std::chrono::milliseconds(10));
    auto traces = platform::TakeDebugOutput();
    ASSERT_EQ(traces.size(), 3u);
    EXPECT_TRUE(std::regex_match(traces[0], std::regex(R"(Byte send \[0\] - \[-?\d+\]\r\n)")));
    EXPECT_EQ(traces[1], "Sending ");
    EXPECT_EQ(traces[2], "Send Packet!\r\n");
    c.Close();
}

TEST(StreamConnection, ReceiveReturnsWhatArrivedAndZeroWhenNotWaiting) {
    ScriptedPeer peer([](PeerSocket& p) {
        p.Send({1, 2, 3});
        p.WaitClosed();
    });
    StreamConnection c;
    ConnectTo(c, peer.Port(), false);
    ASSERT_EQ(c.Connect(), 1);
    uint8_t buffer[16] = {};
    int n = 0;
    ASSERT_TRUE(WaitUntil([&] { return (n = c.Receive(buffer, sizeof buffer)) != 0; }));
    // The three bytes may come in pieces; gather them.
    int total = n;
    while (total < 3) total += c.Receive(buffer + total, int(sizeof buffer) - total);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(buffer[2], 3);
    // Nothing more is pending: a read that does not wait returns 0.
    EXPECT_EQ(c.Receive(buffer, sizeof buffer), 0);
    c.Close();
}

TEST(StreamConnection, FailedConnectReturnsZeroAndStaysStarted) {
    // A listener that is closed again leaves a port that refuses.
    uint16_t port;
    {
        ScriptedPeer closed([](PeerSocket&) {});
        port = closed.Port();
        StreamConnection once;
        ConnectTo(once, port);
        once.Connect();
        once.Close();
    }
    StreamConnection c;
    ConnectTo(c, port);
    EXPECT_EQ(c.Connect(), 0);
    EXPECT_TRUE(c.Started());
    c.Close();
    EXPECT_FALSE(c.Started());
    c.Close();  // a second Close does nothing
}

TEST(StreamConnection, HostStartingWithADigitIsNeverLookedUp) {
    StreamConnection c;
    c.SetHost("1nvalid.example");
    c.SetPort(11679);
    c.SetSocketType(1);
    c.SetWaitModes(true, true);
    // Taken as a dotted address, which it is not: the connect fails, and
    // the program does not end as it would for a failed lookup.
    EXPECT_EQ(c.Connect(), 0);
    c.Close();
}

TEST(StreamConnection, LongHostTextsAreCut) {
    StreamConnection c;
    c.SetHost(std::string(250, 'h').c_str());
    EXPECT_EQ(std::string(c.Host()), std::string(99, 'h'));
}

// The text the error box shows, as the native seam prints it.
std::string ErrorBox() { return std::string("\\[Error Message\\] ") + GetLanguageText(85); }

void ConnectToUnresolvableHost() {
    patchConnection.SetHost("no-such-host.invalid");
    patchConnection.SetPort(11679);
    patchConnection.SetSocketType(1);
    patchConnection.SetWaitModes(true, true);
    patchConnection.Connect();
}

void DownloadFromServerThatCloses() {
    ScriptedPeer peer([](PeerSocket& p) {
        p.Send({1});
        p.Read(4);
        p.Send(Header(8, 5000, "cut.rtp"));
        p.Read(4);
        p.Send(Bytes(1200, 0x33));
        // and goes away with 3800 bytes still owed
    });
    peer.Detach();  // the process ends inside the receiver
    char dir[] = "/tmp/mrl_cut_XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) std::exit(1);
    run::receiveState = 1;
    ConnectTo(patchConnection, peer.Port());
    if (patchConnection.Connect() != 1) std::exit(2);
    std::thread receiver(PatchReceiverThread, nullptr);
    WaitUntil([] { return run::downloadReady.load() != 0; });
    const uint8_t request[4] = {0, 0, 0, 7};
    SendToPatchServer(request, 4);
    receiver.join();
}

TEST(StreamConnectionDeathTest, UnresolvableHostEndsWith233) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ConnectToUnresolvableHost(), ::testing::ExitedWithCode(233), ErrorBox());
}

TEST(StreamConnectionDeathTest, PeerClosingMidTransferEndsWith233) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(DownloadFromServerThatCloses(), ::testing::ExitedWithCode(233), ErrorBox());
}

}  // namespace
