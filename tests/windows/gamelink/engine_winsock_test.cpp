#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "gamelink/datagram_engine.h"
#include "gamelink/game_link.h"

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_lock;
std::vector<std::vector<uint8_t>> g_atA, g_atB;

void AtA(sockaddr_in, const uint8_t* bytes, int32_t length) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_atA.emplace_back(bytes, bytes + length);
}
void AtB(sockaddr_in, const uint8_t* bytes, int32_t length) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_atB.emplace_back(bytes, bytes + length);
}

size_t Count(const std::vector<std::vector<uint8_t>>& inbox) {
    std::lock_guard<std::mutex> hold(g_lock);
    return inbox.size();
}

std::vector<uint8_t> Filled(size_t length, uint8_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 13 + seed);
    return bytes;
}

class WinsockEngines : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(platform::WSAStartup(0x0101), 0); }
    void TearDown() override { platform::WSACleanup(); }
};

TEST_F(WinsockEngines, ReliableAndFragmentedMessagesCrossLoopback) {
    auto started = Clock::now();
    {
        DatagramEngine a, b;
        ASSERT_EQ(a.Start(AtA, 0, "127.0.0.1"), 1);
        ASSERT_EQ(b.Start(AtB, 0, "127.0.0.1"), 1);
        std::vector<uint8_t> small = Filled(30, 1), large = Filled(3035, 2);
        a.QueueMessage(b.LocalAddress(), small.data(), 30, 1000, 5);
        a.QueueMessage(b.LocalAddress(), large.data(), 3035, 1000, 5);
        b.QueueMessage(a.LocalAddress(), large.data(), 3035, 1000, 0);
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((Count(g_atB) < 2 || Count(g_atA) < 1) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard<std::mutex> hold(g_lock);
        ASSERT_EQ(g_atB.size(), 2u);
        ASSERT_EQ(g_atA.size(), 1u);
        EXPECT_EQ(g_atB[0], small);
        EXPECT_EQ(g_atB[1], large);
        EXPECT_EQ(g_atA[0], large);
    }
    // The stop wakes or times out the blocked receives well inside the
    // five seconds it grants each thread.
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
}

TEST_F(WinsockEngines, GameLinkOpensAndResolvesTheLocalHost) {
    gameLink.Shutdown();
    gameLink.SetHost("127.0.0.1");
    gameLink.SetPort(11677);
    EXPECT_EQ(gameLink.Init(OnDatagram), 1);
    ASSERT_NE(gameLink.LocalAddress(), nullptr);
    EXPECT_NE(gameLink.LocalAddress()->sin_port, 0);
    gameLink.Shutdown();
    gameLink.SetHost("localhost");
    EXPECT_EQ(gameLink.Init(OnDatagram), 1);
    gameLink.Shutdown();
}

}  // namespace
