// The engine's protocol core, its tick moved by hand: datagrams written out
// byte by byte; two cores back to back through a bad network.
#include "gamelink/engine_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kStart = 1000000;

Bytes Pattern(size_t length, uint8_t seed) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

// A datagram header as a peer writes it (little-endian fields), then a piece.
Bytes Header(uint8_t index, uint8_t flags, uint16_t total, uint32_t sequence, uint32_t id,
             const Bytes& piece = {}) {
    Bytes d = {index, flags, uint8_t(total), uint8_t(total >> 8)};
    for (uint32_t field : {sequence, id})
        for (int i = 0; i < 4; ++i) d.push_back(uint8_t(field >> (8 * i)));
    d.insert(d.end(), piece.begin(), piece.end());
    return d;
}

// A core whose transmissions and deliveries the test reads. Endpoints are
// told apart by port alone; port 9 stands for any other peer.
struct Endpoint {
    explicit Endpoint(uint16_t port = 1) { address.sin_port = port; }

    void Send(const Bytes& payload, uint32_t retries, uint32_t now, uint16_t to = 9,
              uint32_t interval = 1000) {
        Datagram message{{}, Bytes(12)};
        message.peerAddress.sin_port = to;
        message.data.insert(message.data.end(), payload.begin(), payload.end());
        core.Dispatch(std::move(message), interval, retries, now);
    }
    void Receive(const Bytes& bytes, uint32_t now, uint16_t from = 9) {
        Datagram datagram{{}, bytes};
        datagram.peerAddress.sin_port = from;
        core.Receive(std::move(datagram), now);
    }
    // What the send thread puts on the wire of what was handed to it since
    // the last call: entries acknowledged meanwhile are skipped.
    std::vector<Bytes> Wire() {
        std::vector<Bytes> out;
        for (const auto& record : sent)
            if (!record->acknowledged) out.push_back(record->datagram.data);
        sent.clear();
        return out;
    }

    sockaddr_in address{};
    std::atomic<uint32_t> numbering{0};
    std::vector<std::shared_ptr<const DatagramRecord>> sent;
    std::vector<Bytes> delivered;  // payloads
    bool full = false;             // no room for what a datagram brings
    EngineCore core{
        [this](std::shared_ptr<const DatagramRecord> r) { sent.push_back(r); },
        [this](Datagram m) { delivered.emplace_back(m.data.begin() + 12, m.data.end()); },
        [this] { return !full; }, numbering};
};

TEST(EngineCore, EveryKindOfDatagramOnTheWire) {
    Endpoint e;
    e.numbering = 7;
    Bytes long1013 = Pattern(1013, 2);
    e.Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 5, kStart);
    e.Receive({0x00, 0x02, 0x0D, 0x00, 0x05, 0x03, 0x02, 0x01, 0, 0, 0, 0, 'r'}, kStart);
    e.Send(long1013, 5, kStart);
    e.Send({0xAB, 0xCD}, 0, kStart);
    std::vector<Bytes> wire = e.Wire();
    ASSERT_EQ(wire.size(), 5u);
    EXPECT_EQ(wire[0], (Bytes{0x00, 0x02, 0x16, 0x00, 0x07, 0, 0, 0, 0, 0, 0,
                              0,    1,    2,    3,    4,    5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(wire[1], (Bytes{0x00, 0x01, 0x00, 0x00, 0x05, 0x03, 0x02, 0x01, 0, 0, 0, 0}));
    // The acknowledgement took no number: the fragments are 8 and 9.
    EXPECT_EQ(wire[3],
              (Bytes{0x01, 0x06, 0x01, 0x04, 0x09, 0, 0, 0, 0x08, 0, 0, 0, long1013[1012]}));
    EXPECT_EQ(wire[4], (Bytes{0x00, 0x00, 0x0E, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD}));
    // Too short, too long, and a bare header: an empty message.
    Bytes eleven = Header(0, 0x02, 12, 1, 0);
    eleven.pop_back();
    for (const Bytes& d : {eleven, Header(0, 0, 1025, 2, 0, Bytes(1013)), Header(0, 0, 12, 3, 0)})
        e.Receive(d, kStart);
    EXPECT_FALSE(e.core.Dispatch(Datagram{{}, Bytes(12 + 65524)}, 1000, 5, kStart));
    EXPECT_TRUE(e.Wire().empty());
    EXPECT_EQ(e.delivered, (std::vector<Bytes>{{'r'}, {}}));
}

TEST(EngineCore, LongMessagesTravelInPiecesOf1012AndReassembleInAnyOrder) {
    for (auto [size, count] : std::vector<std::pair<size_t, size_t>>{
             {1012, 1}, {1013, 2}, {2024, 3}, {3035, 3}, {65523, 65}}) {
        SCOPED_TRACE(size);
        Endpoint sender(1), receiver(2);
        Bytes payload = Pattern(size, uint8_t(size)), joined;
        sender.Send(payload, 5, kStart, 2);
        std::vector<Bytes> wire = sender.Wire();
        ASSERT_EQ(wire.size(), count);
        for (uint32_t i = 0; i < count; ++i) {  // the header layout is pinned above
            EXPECT_EQ(wire[i][0], count == 1 ? 0 : i);
            EXPECT_EQ(wire[i].size(), i + 1 < count ? 1024 : 12 + size - (count - 1) * 1012);
            joined.insert(joined.end(), wire[i].begin() + 12, wire[i].end());
        }
        EXPECT_EQ(joined, payload);
        std::reverse(wire.begin(), wire.end());
        for (const Bytes& d : wire) receiver.Receive(d, kStart, 1);
        EXPECT_EQ(receiver.delivered, std::vector<Bytes>{payload});
        EXPECT_EQ(receiver.Wire().size(), count);  // one acknowledgement each
    }
}

TEST(EngineCore, ReliableDatagramsGoOutSixTimesOneSecondApartAlsoAcrossTheWrap) {
    for (auto [start, retries, transmissions] : std::vector<std::array<uint32_t, 3>>{
             {kStart, 5, 6}, {0xFFFFFF00u, 5, 6}, {kStart, 0, 1}}) {
        SCOPED_TRACE(start);
        Endpoint e;
        e.Send(Pattern(40, 3), retries, start);
        std::vector<Bytes> wire = e.Wire();
        for (uint32_t k = 1; k <= 8; ++k) {
            for (uint32_t early : {999u, 1u}) {
                e.core.Service(start + k * 1000 - early);
                EXPECT_TRUE(e.Wire().empty()) << "early resend " << k;
            }
            e.core.Service(start + k * 1000);
            for (const Bytes& d : e.Wire()) wire.push_back(d);
        }
        EXPECT_EQ(wire, std::vector<Bytes>(transmissions, wire[0]));
    }
}

TEST(EngineCore, AcknowledgementWhileAResendWaitsSkipsItAndReleasesTheRecord) {
    Endpoint e;
    e.Send(Pattern(5, 4), 5, kStart);
    e.core.Service(kStart + 1000);  // the resend now waits for the send thread
    ASSERT_EQ(e.sent.size(), 2u);
    ASSERT_EQ(e.sent[0], e.sent[1]);
    std::weak_ptr<const DatagramRecord> record = e.sent[0];
    e.Receive(Header(0, 0x01, 0, 0, 0), kStart + 1001);
    EXPECT_TRUE(e.Wire().empty());  // both entries skipped
    EXPECT_TRUE(record.expired());  // and nothing else holds it: no more resends
}

TEST(EngineCore, DuplicatesAreFilteredByAHundredNumbersKeptFifteenSecondsFor1024Peers) {
    Endpoint e;
    Bytes reliable = Header(0, 0x02, 13, 7, 0, {'r'}), unreliable = Header(0, 0, 13, 8, 0, {'u'});
    for (const Bytes& d : {reliable, reliable, unreliable, unreliable}) e.Receive(d, kStart);
    EXPECT_EQ(e.Wire(), std::vector<Bytes>(2, Header(0, 0x01, 0, 7, 0)));  // acknowledged twice
    EXPECT_EQ(e.delivered, (std::vector<Bytes>{{'r'}, {'u'}}));

    Endpoint history;
    for (uint32_t s : {1000u, 1100u})  // 1000 ... 1099, 1000 again (known), 1100 ... 1199
        for (uint32_t n = 0; n <= 100; ++n)
            history.Receive(Header(0, 0, 12, s + n % 100, 0), kStart);
    history.Receive(Header(0, 0, 12, 1099, 0), kStart);  // forgotten
    history.Receive(Header(0, 0, 12, 1150, 0), kStart);  // still known
    EXPECT_EQ(history.delivered.size(), 201u);

    Endpoint expiry;  // 1024 peers known: a new one (port 8) waits until they are forgotten
    for (uint16_t port = 9; port < 9 + 1024; ++port) expiry.Receive(unreliable, kStart, port);
    expiry.core.Service(kStart + 14999);
    for (uint16_t port : {9, 8}) expiry.Receive(unreliable, kStart + 14999, port);  // a copy
    EXPECT_EQ(expiry.delivered.size(), 1024u);
    expiry.core.Service(kStart + 15000);  // the peers are forgotten, history and all
    for (uint16_t port : {9, 8}) expiry.Receive(unreliable, kStart + 15000, port);
    EXPECT_EQ(expiry.delivered.size(), 1026u);
}

TEST(EngineCore, WithoutRoomADatagramIsRefusedUnacknowledgedUntilSentAgain) {
    Endpoint e;
    Bytes reliable = Header(0, 0x02, 13, 7, 0, {'r'});
    e.Send(Pattern(5, 1), 5, kStart);
    e.full = true;
    e.Receive(reliable, kStart);
    e.Receive(Header(0, 0x01, 0, 0, 0), kStart);  // acknowledgements are still taken
    e.core.Service(kStart + 1000);
    EXPECT_TRUE(e.Wire().empty());  // ours acknowledged (no resend), theirs not acknowledged
    e.full = false;
    for (uint32_t now : {kStart + 1000, kStart + 2000}) e.Receive(reliable, now);  // and a copy
    EXPECT_EQ(e.Wire(), std::vector<Bytes>(2, Header(0, 0x01, 0, 7, 0)));
    EXPECT_EQ(e.delivered, std::vector<Bytes>{{'r'}});
}

TEST(EngineCore, HostileFragmentsNeverOpenOrCompleteAReassembly) {
    Endpoint e;
    Bytes payload = Pattern(3035, 5), piece(1012, 0xEE);
    auto good = [&](uint8_t i) {
        auto at = payload.begin() + i * 1012;
        return Header(i, 0x04, 3047, 700 + i, 700, Bytes(at, i == 2 ? payload.end() : at + 1012));
    };
    for (const Bytes& d : {Header(0, 0x04, 5, 692, 692), good(0),         // total below a header
                           Header(3, 0x04, 3047, 690, 700, Bytes(1011)),  // no such index
                           Header(1, 0x04, 3047, 691, 700, Bytes(1011)),  // short piece
                           Header(1, 0x04, 4059, 750, 700, piece),        // another total length
                           Header(0, 0x04, 3047, 751, 700, piece),        // a second index 0
                           good(1)})
        e.Receive(d, kStart);
    EXPECT_TRUE(e.delivered.empty());
    e.Receive(good(2), kStart);
    // A first fragment that is the whole message has nothing to wait for.
    e.Receive(Header(0, 0x04, 112, 800, 800, Pattern(100, 6)), kStart);
    EXPECT_EQ(e.delivered, (std::vector<Bytes>{payload, Pattern(100, 6)}));
}

TEST(EngineCore, ReassembliesExpireAfterTenSecondsAndTheirBytesAreCapped) {
    Endpoint sender(1);
    for (uint32_t wait : {9999u, 10000u}) {
        Endpoint receiver(2);
        sender.Send(Pattern(1013, 7), 0, kStart, 2);
        std::vector<Bytes> wire = sender.Wire();
        receiver.Receive(wire[0], kStart, 1);
        receiver.core.Service(kStart + wait);
        receiver.Receive(wire[1], kStart + wait, 1);
        EXPECT_EQ(receiver.delivered.size(), wait < 10000 ? 1u : 0u) << wait;
    }
    // 16 open reassemblies of the largest size fill the cap until they
    // expire: the fragments refused meanwhile are taken when sent again.
    Endpoint capped(3);
    for (uint32_t m = 0; m < 16; ++m)
        capped.Receive(Header(0, 0x04, 65535, 2000 + m, 2000 + m, Bytes(1012)), kStart);
    Bytes largest = Pattern(65523, 8);
    sender.Send(largest, 1, kStart, 3, 10000);
    for (uint32_t now : {kStart, kStart + 10000}) {
        capped.core.Service(now);
        sender.core.Service(now);
        for (const Bytes& d : sender.Wire()) capped.Receive(d, now, 1);
        EXPECT_EQ(capped.Wire().size(), now == kStart ? 0u : 65u);  // acknowledgements
    }
    EXPECT_EQ(capped.delivered, std::vector<Bytes>{largest});
}

// A completed message gives its share of the cap back: long messages keep
// arriving one after another, far beyond the sixteen the cap holds at once.
TEST(EngineCore, CompletedReassembliesGiveTheirBytesBack) {
    Endpoint sender(1), receiver(2);
    for (uint32_t m = 0; m < 40; ++m) {
        sender.Send(Pattern(65523, uint8_t(m)), 5, kStart + m, 2);
        for (const Bytes& d : sender.Wire()) receiver.Receive(d, kStart + m, 1);
        ASSERT_EQ(receiver.delivered.size(), m + 1);
        EXPECT_EQ(receiver.delivered.back(), Pattern(65523, uint8_t(m)));
    }
}

// Carries what one core sent to the other as the send thread and a network
// that drops, duplicates (percent) and reorders would.
void Carry(Endpoint& from, Endpoint& to, uint32_t now, std::array<int, 3> bad,
           std::mt19937& random) {
    std::vector<Bytes> flight = from.Wire();
    if (bad[2]) std::shuffle(flight.begin(), flight.end(), random);
    for (const Bytes& d : flight) {
        if (int(random() % 100) < bad[0]) continue;
        for (int copies = int(random() % 100) < bad[1] ? 2 : 1; copies > 0; --copies)
            to.Receive(d, now, from.address.sin_port);
    }
}

TEST(EngineCore, ReliableMessagesArriveExactlyOnceThroughABadNetwork) {
    for (std::array<int, 3> bad : std::vector<std::array<int, 3>>{
             {0, 0, 0}, {30, 0, 0}, {0, 30, 0}, {0, 0, 1}, {30, 30, 1}}) {
        SCOPED_TRACE(testing::Message() << bad[0] << " " << bad[1] << " " << bad[2]);
        Endpoint a(1), b(2);
        std::mt19937 random(20261206);
        // 30 short messages each way and one that needs 3 fragments.
        std::vector<Bytes> toB = {Pattern(2500, 50)}, toA = {Pattern(3035, 150)};
        for (uint8_t id = 0; id < 30; ++id) {
            toB.push_back(Pattern(4 + id, id));
            toA.push_back(Pattern(20, uint8_t(100 + id)));
        }
        for (const Bytes& m : toB) a.Send(m, 25, kStart, 2, 100);
        for (const Bytes& m : toA) b.Send(m, 25, kStart, 1, 100);
        for (uint32_t now = kStart; now < kStart + 3000; now += 50)
            for (auto [from, to] : {std::pair(&a, &b), std::pair(&b, &a)}) {
                Carry(*from, *to, now, bad, random);
                from->core.Service(now);
            }
        for (auto* got : {&a.delivered, &b.delivered, &toA, &toB})
            std::sort(got->begin(), got->end());
        EXPECT_EQ(b.delivered, toB);
        EXPECT_EQ(a.delivered, toA);
    }
}

}  // namespace
