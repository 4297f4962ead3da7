// Real engines with their four threads over loopback, directly and through
// a relay that drops, duplicates and reorders datagrams.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "gamelink/datagram_engine.h"
#include "wire.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits until `done` holds or the time runs out; the verdict of `done`.
template <typename Done>
bool WaitUntil(Done done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A payload that says which message it is: 4 id bytes, then filler.
Bytes Tagged(uint32_t id, size_t length) {
    Bytes payload = Pattern(length < 4 ? 4 : length, uint8_t(id));
    for (int i = 0; i < 4; ++i) payload[i] = uint8_t(id >> (8 * i));
    return payload;
}
uint32_t TagOf(const Bytes& payload) {
    return uint32_t(payload[0]) | uint32_t(payload[1]) << 8 | uint32_t(payload[2]) << 16 |
           uint32_t(payload[3]) << 24;
}

class TwoEngines : public ::testing::Test {
protected:
    void SetUp() override {
        inboxA.Clear();
        inboxB.Clear();
        ASSERT_EQ(a.Start(DeliverToA, 0, "127.0.0.1"), 1);
        ASSERT_EQ(b.Start(DeliverToB, 0, "127.0.0.1"), 1);
    }
    void TearDown() override {
        inboxA.Clear();
        inboxB.Clear();
    }
    DatagramEngine a, b;
};

TEST_F(TwoEngines, MessagesOfEverySizeArriveIntactBothWays) {
    const std::vector<size_t> sizes = {4, 100, 1012, 1013, 2024, 3035, 65523};
    for (size_t i = 0; i < sizes.size(); ++i) {
        Bytes toB = Tagged(uint32_t(i), sizes[i]), toA = Tagged(uint32_t(100 + i), sizes[i]);
        a.QueueMessage(b.LocalAddress(), toB.data(), int32_t(toB.size()), 1000, 5);
        b.QueueMessage(a.LocalAddress(), toA.data(), int32_t(toA.size()), 1000, 0);
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return inboxA.Count() == sizes.size() && inboxB.Count() == sizes.size(); }, 10000));
    std::vector<Delivered> atB = inboxB.Snapshot(), atA = inboxA.Snapshot();
    std::map<uint32_t, Bytes> byTag;
    for (const Delivered& d : atB) byTag[TagOf(d.payload)] = d.payload;
    for (const Delivered& d : atA) byTag[TagOf(d.payload)] = d.payload;
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(byTag[uint32_t(i)], Tagged(uint32_t(i), sizes[i]));
        EXPECT_EQ(byTag[uint32_t(100 + i)], Tagged(uint32_t(100 + i), sizes[i]));
    }
    EXPECT_EQ(atB[0].from.sin_port, a.LocalAddress().sin_port);
}

// Forwards datagrams between two engines, dropping, duplicating and
// holding back (to reorder) a share of them, decided by a seeded generator.
class FaultyRelay {
public:
    FaultyRelay(sockaddr_in left, sockaddr_in right, double drop, double duplicate, double reorder)
        : leftEngine(left),
          rightEngine(right),
          dropRate(drop),
          duplicateRate(duplicate),
          reorderRate(reorder),
          random(20261206),
          worker([this] { Run(); }) {}
    ~FaultyRelay() {
        running = false;
        worker.join();
    }
    // Where the left engine sends (it reaches the right one through here).
    sockaddr_in ForLeft() const { return leftSide.Address(); }
    sockaddr_in ForRight() const { return rightSide.Address(); }
    int Dropped() const { return dropped; }
    int Duplicated() const { return duplicated; }
    int Reordered() const { return reordered; }

private:
    struct Direction {
        const RawPeer* out;
        sockaddr_in to;
        Bytes held;
        bool holding = false;
    };

    void Run() {
        Direction toRight{&rightSide, rightEngine, {}, false};
        Direction toLeft{&leftSide, leftEngine, {}, false};
        pollfd sockets[2] = {{leftSide.Handle(), POLLIN, 0}, {rightSide.Handle(), POLLIN, 0}};
        while (running) {
            if (::poll(sockets, 2, 10) <= 0) {
                Flush(toRight);  // a quiet line releases what was held back
                Flush(toLeft);
                continue;
            }
            Bytes datagram;
            if (sockets[0].revents & POLLIN && leftSide.Receive(&datagram, 0))
                Forward(toRight, datagram);
            if (sockets[1].revents & POLLIN && rightSide.Receive(&datagram, 0))
                Forward(toLeft, datagram);
        }
    }
    void Forward(Direction& way, const Bytes& datagram) {
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        if (chance(random) < dropRate) {
            ++dropped;
            return;
        }
        int copies = chance(random) < duplicateRate ? 2 : 1;
        duplicated += copies - 1;
        if (!way.holding && chance(random) < reorderRate) {
            way.held = datagram;  // goes out after the next one
            way.holding = true;
            ++reordered;
            if (copies == 1) return;
            copies = 1;
        }
        for (int i = 0; i < copies; ++i) way.out->SendTo(way.to, datagram);
        Flush(way);
    }
    void Flush(Direction& way) {
        if (!way.holding) return;
        way.out->SendTo(way.to, way.held);
        way.holding = false;
    }

    sockaddr_in leftEngine, rightEngine;
    double dropRate, duplicateRate, reorderRate;
    std::mt19937 random;
    RawPeer leftSide, rightSide;
    std::atomic<bool> running{true};
    std::atomic<int> dropped{0}, duplicated{0}, reordered{0};
    std::thread worker;
};

TEST_F(TwoEngines, EveryReliableMessageArrivesExactlyOnceThroughABadNetwork) {
    FaultyRelay relay(a.LocalAddress(), b.LocalAddress(), 0.3, 0.3, 0.3);
    // Short resend intervals and many retries keep the run short and make
    // a message lost on every one of its transmissions practically
    // impossible; fewer than 100 datagrams each way keep every copy within
    // the receiver's duplicate history.
    const uint32_t kInterval = 40, kRetries = 25;
    std::vector<Bytes> toB, toA;
    for (uint32_t id = 0; id < 40; ++id) toB.push_back(Tagged(id, 8 + id));
    for (uint32_t id = 1000; id < 1040; ++id) toA.push_back(Tagged(id, 20));
    toB.push_back(Tagged(50, 2500));  // fragmented: 3 datagrams
    toA.push_back(Tagged(1050, 3035));
    for (const Bytes& m : toB)
        a.QueueMessage(relay.ForLeft(), m.data(), int32_t(m.size()), kInterval, kRetries);
    for (const Bytes& m : toA)
        b.QueueMessage(relay.ForRight(), m.data(), int32_t(m.size()), kInterval, kRetries);

    ASSERT_TRUE(WaitUntil(
        [&] { return inboxB.Count() >= toB.size() && inboxA.Count() >= toA.size(); }, 20000))
        << inboxB.Count() << " at B, " << inboxA.Count() << " at A";
    // Let the last resends and duplicates run out before counting.
    std::this_thread::sleep_for(std::chrono::milliseconds(kInterval * (kRetries + 2)));

    auto check = [](const std::vector<Bytes>& sent, const std::vector<Delivered>& got) {
        std::map<uint32_t, int> seen;
        for (const Delivered& d : got) {
            ++seen[TagOf(d.payload)];
            bool known = false;
            for (const Bytes& m : sent) known = known || m == d.payload;
            EXPECT_TRUE(known) << "damaged message " << TagOf(d.payload);
        }
        EXPECT_EQ(got.size(), sent.size());
        for (const Bytes& m : sent) EXPECT_EQ(seen[TagOf(m)], 1) << "message " << TagOf(m);
    };
    check(toB, inboxB.Snapshot());
    check(toA, inboxA.Snapshot());
    EXPECT_GT(relay.Dropped(), 0);
    EXPECT_GT(relay.Duplicated(), 0);
    EXPECT_GT(relay.Reordered(), 0);
}

TEST(EngineStop, StopsPromptlyAndReleasesWhatItHeld) {
    long before = DatagramRecord::LiveCount();
    RawPeer silent;
    auto started = Clock::now();
    {
        DatagramEngine engine;
        ASSERT_EQ(engine.Start(DeliverToA, 0, "127.0.0.1"), 1);
        Bytes payload = Pattern(5000);
        engine.QueueMessage(silent.Address(), payload.data(), 5000, 1000, 5);
        engine.QueueMessage(silent.Address(), payload.data(), 10, 1000, 5);
        ASSERT_TRUE(WaitUntil([&] { return silent.ReceiveAll(20).size() > 0; }, 5000));
    }
    EXPECT_EQ(DatagramRecord::LiveCount(), before);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
}

}  // namespace
