// The facade and the threaded engine under it, against a game server played
// by a bare socket on loopback (run under ASan and TSan too).
#include "gamelink/game_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/time.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

GameLink gameLink;

std::atomic<uint32_t> tick{5000};
uint32_t ManualTick() { return tick; }

TEST(GameLink, TalksToTheServerReliablyAndStopsAtOnce) {
    platform::SocketHandle server = platform::Socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{}, link{};
    address.sin_family = AF_INET;
    ASSERT_EQ(platform::Bind(server, address), 0);
    platform::GetSockName(server, &address);
    auto receive = [&](uint32_t waitMs) {
        platform::SetReceiveTimeout(server, waitMs);
        uint8_t buffer[1024];
        int n = platform::RecvFrom(server, buffer, sizeof buffer, &link);
        return n < 0 ? Bytes{} : Bytes(buffer, buffer + n);
    };
    platform::SetTickSource(ManualTick);
    gameLink.SetHost("127.0.0.1");
    gameLink.SetPort(ntohs(address.sin_port));
    ASSERT_EQ(gameLink.Init(), 1);
    KVNPacket request;
    request << short(65);
    gameLink.Send(&request);
    Bytes first = receive(3000);
    ASSERT_EQ(first.size(), 18u);
    EXPECT_EQ(first[1], 0x02);
    Bytes body(first.begin() + 12, first.end());
    KVNPacket sent;  // message 65, enciphered
    ASSERT_EQ(sent.SetBuffer(body.data(), 6), 1);
    EXPECT_EQ(sent.DecryptPacket(), 1);
    EXPECT_EQ(sent.GetPacketID(), 65);

    // With 256 KiB unread (256 x 960 bytes, 64 more each) the answer (65 under seed 1) is
    // refused unacknowledged; once they are taken it is acknowledged and handed over.
    Bytes answer = {0, 0x02, 18, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0x41, 0x00, 0x92, 0xF2};
    Bytes unread(960);
    for (int i = 0; i < 256; ++i) gameLink.OnDatagram(sockaddr_in{}, unread.data(), 960);
    platform::SendTo(server, answer.data(), int(answer.size()), link);
    EXPECT_TRUE(receive(300).empty());
    for (KVNPacket* packet = nullptr; gameLink.GetNextMessage(&packet);) delete packet;
    platform::SendTo(server, answer.data(), int(answer.size()), link);
    EXPECT_EQ(receive(3000), (Bytes{0, 0x01, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}));
    KVNPacket* message = nullptr;
    for (auto deadline = Clock::now() + std::chrono::seconds(3);
         !gameLink.GetNextMessage(&message) && Clock::now() < deadline;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->GetPacketID(), 65);
    delete message;

    // Five resends a second apart, then no more.
    for (int resend = 1; resend <= 6; ++resend) {
        tick += 999;
        EXPECT_TRUE(receive(50).empty()) << "early resend " << resend;
        tick += 1;
        EXPECT_EQ(receive(resend <= 5 ? 3000 : 200), resend <= 5 ? first : Bytes{}) << resend;
    }
    // A copy is acknowledged again: the receive has just begun a new wait.
    platform::SendTo(server, answer.data(), int(answer.size()), link);
    EXPECT_EQ(receive(3000), (Bytes{0, 0x01, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}));
    auto stopping = Clock::now();
    gameLink.Shutdown();
    // Well below the receive time-out that ends a receive nobody woke.
    EXPECT_LT(Clock::now() - stopping, std::chrono::milliseconds(500));
    platform::SetTickSource(nullptr);
    platform::CloseSocket(server);
}

TEST(GameLink, ReceivedMessagesAreCopiedDecipheredAndHandedOverInOrder) {
    Bytes tooShort = {1, 2, 3, 4, 5}, answer = {0x01, 0x00, 0x41, 0x00, 0x92, 0xF2};
    Bytes damaged = answer;
    damaged[5] ^= 0x01;  // id 64 and a checksum that fails: queued all the same
    for (const Bytes* m : {&tooShort, &answer, &damaged})
        gameLink.OnDatagram(sockaddr_in{}, m->data(), int32_t(m->size()));
    answer.assign(6, 0);  // the engine's bytes go away after the call
    KVNPacket *first = nullptr, *second = nullptr, *third = nullptr;
    ASSERT_EQ(gameLink.GetNextMessage(&first), 1);
    ASSERT_EQ(gameLink.GetNextMessage(&second), 1);
    EXPECT_EQ(gameLink.GetNextMessage(&third), 0);  // too short to hold a packet id
    EXPECT_EQ(first->GetPacketID(), 65);
    EXPECT_EQ(second->GetPacketID(), 64);
    delete first;  // with the bytes they own
    delete second;
}

TEST(GameLink, TheReceivedQueueKeeps130DatagramsOfASenderAnd1024InAll) {
    ReceivedQueue received;
    Bytes header(12);
    size_t kept = 0;
    auto offer = [&](uint16_t port) {
        sockaddr_in from{};
        from.sin_port = port;
        for (int i = 0; i < 200; ++i) kept += received.Offer(from, header.data(), 12);
        return kept;
    };
    EXPECT_EQ(offer(1), 130u);
    for (uint16_t port = 2; port <= 9; ++port) offer(port);
    EXPECT_EQ(kept, 1024u);
    while (received.TakeFront()) --kept;
    EXPECT_EQ(offer(1), 130u);
}

std::atomic<bool> receiverBusy{true};
std::atomic<int> handedOver{0};
void SlowReceiver(sockaddr_in, const uint8_t*, int32_t) {
    while (receiverBusy) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++handedOver;
}

TEST(GameLink, ABusyReceiverHasSixteenMessagesWaitingAndTheRestComeAgain) {
    DatagramEngine engine;
    ASSERT_EQ(engine.Start(SlowReceiver, 0, "127.0.0.1"), 1);
    platform::SocketHandle peer = platform::Socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    ASSERT_EQ(platform::Bind(peer, any), 0);
    auto sendForty = [&] {
        for (uint8_t n = 1; n <= 40; ++n) {
            Bytes reliable = {0, 0x02, 16, 0, n, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4};
            platform::SendTo(peer, reliable.data(), 16, engine.LocalAddress());
        }
    };
    auto acknowledgements = [&](uint32_t waitMs) {
        platform::SetReceiveTimeout(peer, waitMs);
        uint8_t buffer[64];
        sockaddr_in from{};
        int count = 0;
        while (platform::RecvFrom(peer, buffer, sizeof buffer, &from) == 12) ++count;
        return count;
    };
    // One message in the receiver's hands and sixteen waiting (the first may
    // not have reached its hands yet); the others are refused unacknowledged.
    sendForty();
    int taken = acknowledgements(500);
    EXPECT_GE(taken, 16);
    EXPECT_LE(taken, 17);
    receiverBusy = false;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (handedOver < 40 && Clock::now() < deadline) {
        sendForty();
        acknowledgements(100);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(handedOver, 40);  // each once
    platform::CloseSocket(peer);
}

TEST(GameLink, ANumericHostIsNeverResolvedByNameAndLongMessagesAreRefused) {
    // A label over 63 characters fails in the resolver before any query
    // leaves the machine.
    gameLink.SetHost(("9" + std::string(70, 'x')).c_str());
    EXPECT_EQ(gameLink.Init(), 1);  // taken as a (bad) dotted address
    gameLink.Shutdown();
    gameLink.SetHost(("n" + std::string(70, 'x')).c_str());
    EXPECT_EQ(gameLink.Init(), 0);
    gameLink.Shutdown();
    {  // a port already taken: the start fails, and what was queued goes with the engine
        platform::SocketHandle taken = platform::Socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ASSERT_EQ(platform::Bind(taken, address), 0);
        platform::GetSockName(taken, &address);
        DatagramEngine refused;
        const uint8_t queued[8] = {};
        EXPECT_EQ(refused.QueueMessage(address, queued, 8, 1000, 5), 1);  // freed with it
        EXPECT_EQ(refused.Start(nullptr, ntohs(address.sin_port), "0.0.0.0"), 0);
        platform::CloseSocket(taken);
    }
    DatagramEngine engine;  // never started: what it holds goes with it
    Bytes huge(65524);
    EXPECT_EQ(engine.QueueMessage(sockaddr_in{}, huge.data(), 65523, 1000, 5), 1);
    EXPECT_EQ(engine.QueueMessage(sockaddr_in{}, huge.data(), 65524, 1000, 5), 0);
    EXPECT_EQ(engine.QueueMessage(sockaddr_in{}, huge.data(), -1, 1000, 5), 0);
    EXPECT_EQ(engine.QueueMessage(sockaddr_in{}, nullptr, 4, 1000, 5), 0);
}

}  // namespace
