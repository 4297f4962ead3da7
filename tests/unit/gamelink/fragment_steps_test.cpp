#include <algorithm>

#include "engine_fixture.h"

namespace {

class FragmentSteps : public EngineSteps {
protected:
    // Sends every fragment (in the given order) and returns what the engine
    // delivered.
    std::vector<Delivered> PeerSendsFragments(const std::vector<Bytes>& fragments) {
        for (const Bytes& f : fragments) PeerSends(f);
        DeliverAll();
        return inboxA.Snapshot();
    }
    size_t OpenReassemblies() {
        PeerState* state = engine.FindPeer(PeerAddress());
        return state ? state->reassembly.Count() : 0;
    }
};

TEST_F(FragmentSteps, LongMessagesLeaveInFragmentsOfAtMost1012Bytes) {
    struct Case {
        size_t payload;
        std::vector<size_t> datagramSizes;
    };
    const std::vector<Case> cases = {
        {1012, {1024}}, {1013, {1024, 13}}, {2024, {1024, 1024, 12}}, {3035, {1024, 1024, 1023}},
        {65523, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        Bytes payload = Pattern(c.payload, uint8_t(c.payload));
        uint32_t first = NextSequence;
        engine.QueueMessage(PeerAddress(), payload.data(), int32_t(c.payload), 1000, 5);
        Cycle();
        SendAll();
        std::vector<Bytes> sent = PeerReceivesAll();
        size_t count = c.payload / 1012 + 1;
        if (c.payload == 1012) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0], Datagram(0, 0x02, 1024, first, 0, payload));
            PeerSends(AckFor(first));
        } else {
            ASSERT_EQ(sent.size(), count);
            Bytes joined;
            for (size_t i = 0; i < count; ++i) {
                if (!c.datagramSizes.empty()) {
                    EXPECT_EQ(sent[i].size(), c.datagramSizes[i]);
                }
                EXPECT_EQ(sent[i][0], i);
                EXPECT_EQ(sent[i][1], 0x06);
                EXPECT_EQ(TotalLengthOf(sent[i]), c.payload + 12);
                EXPECT_EQ(SequenceOf(sent[i]), first + i);
                EXPECT_EQ(MessageIdOf(sent[i]), first);
                Bytes piece = PayloadOf(sent[i]);
                joined.insert(joined.end(), piece.begin(), piece.end());
            }
            EXPECT_EQ(joined, payload);
            for (const Bytes& f : sent) PeerSends(AckFor(SequenceOf(f)));
        }
        EXPECT_EQ(SendAll(), int(sent.size()));  // each acknowledged record passes once more
        EXPECT_EQ(RecordsHeld(), 0);
    }
    EXPECT_EQ(NextSequence.load() >= 65, true);
}

TEST_F(FragmentSteps, SecondFragmentHeaderOfSequence41) {
    NextSequence = 40;
    Bytes payload = Pattern(1013);
    engine.QueueMessage(PeerAddress(), payload.data(), 1013, 1000, 5);
    Cycle();
    SendAll();
    std::vector<Bytes> sent = PeerReceivesAll();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1],
              (Bytes{0x01, 0x06, 0x01, 0x04, 0x29, 0, 0, 0, 0x28, 0, 0, 0, payload[1012]}));
}

TEST_F(FragmentSteps, UnreliableLongMessageNeedsNoPeerState) {
    Bytes payload = Pattern(2500);
    engine.QueueMessage(PeerAddress(), payload.data(), 2500, 1000, 0);
    Cycle();
    EXPECT_EQ(SendAll(), 3);
    std::vector<Bytes> sent = PeerReceivesAll();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2][1], 0x04);
    EXPECT_EQ(engine.PeerCount(), 0u);
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(FragmentSteps, MessagesReassembleInAnyOrder) {
    for (size_t size : {1013u, 2024u, 3035u, 65523u}) {
        SCOPED_TRACE(size);
        inboxA.Clear();
        Bytes payload = Pattern(size, 3);
        std::vector<Bytes> fragments = Fragments(payload, 5000 + uint32_t(size), true);
        std::reverse(fragments.begin(), fragments.end());
        std::vector<Delivered> delivered = PeerSendsFragments(fragments);
        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0].payload, payload);
        EXPECT_EQ(SendAll(), int(fragments.size()));  // one acknowledgement per fragment
        PeerReceivesAll();
    }
    EXPECT_EQ(OpenReassemblies(), 0u);
}

TEST_F(FragmentSteps, InterleavedMessagesAreToldApartByMessageId) {
    Bytes first = Pattern(2024, 1), second = Pattern(1013, 2);
    std::vector<Bytes> a = Fragments(first, 500, false), b = Fragments(second, 600, false);
    std::vector<Delivered> delivered = PeerSendsFragments({a[0], b[1], a[2], b[0], a[1]});
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].payload, second);  // completed first
    EXPECT_EQ(delivered[1].payload, first);
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(FragmentSteps, IncompleteReassemblyIsDroppedAfterTenSeconds) {
    std::vector<Bytes> fragments = Fragments(Pattern(1013), 900, false);
    PeerSends(fragments[0]);
    ManualClock::Advance(9999);
    Cycle();
    EXPECT_EQ(OpenReassemblies(), 1u);
    ManualClock::Advance(1);
    Cycle();
    EXPECT_EQ(OpenReassemblies(), 0u);
    EXPECT_EQ(RecordsHeld(), 0);
    PeerSends(fragments[1]);  // late: opens a reassembly of its own
    DeliverAll();
    EXPECT_EQ(inboxA.Count(), 0u);
    EXPECT_EQ(OpenReassemblies(), 1u);
    ManualClock::Advance(15000);
    Cycle();
    EXPECT_EQ(engine.PeerCount(), 0u);  // both expiries passed: the peer goes
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(FragmentSteps, FragmentsThatDoNotFitTheirMessageAreDropped) {
    Bytes payload = Pattern(3035);
    std::vector<Bytes> good = Fragments(payload, 700, false);
    // Index beyond the message, a short middle piece, a total length below
    // the header: none may open a reassembly.
    PeerSends(Datagram(3, 0x04, 3047, 690, 690, Bytes(1011, 0)));
    PeerSends(Datagram(1, 0x04, 3047, 691, 691, Bytes(1011, 0)));
    PeerSends(Datagram(0, 0x04, 5, 692, 692, {}));
    EXPECT_EQ(OpenReassemblies(), 0u);

    PeerSends(good[0]);
    // Same message id, but a larger total length or an index already here.
    PeerSends(Datagram(2, 0x04, 4059, 750, 700, Bytes(1012, 0xEE)));
    PeerSends(Datagram(0, 0x04, 3047, 751, 700, Bytes(1012, 0xEE)));
    PeerSends(good[1]);
    DeliverAll();
    EXPECT_EQ(inboxA.Count(), 0u);  // not completed by the impostors
    PeerSends(good[2]);
    DeliverAll();
    std::vector<Delivered> delivered = inboxA.Snapshot();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].payload, payload);
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(FragmentSteps, OpenReassembliesAreBoundedInMemory) {
    // First fragments of 65 of the largest messages: the 65th finds no room.
    Bytes piece(1012, 0x11);
    for (uint32_t m = 0; m < 65; ++m)
        ASSERT_TRUE(engine.AcceptDatagram(
            PeerAddress(), Datagram(0, 0x04, 65535, 2000 + m, 2000 + m, piece).data(), 1024));
    for (int i = 0; i < 65; ++i) engine.ServiceIncoming();
    EXPECT_EQ(OpenReassemblies(), 64u);
    ManualClock::Advance(10000);  // the expiry gives the room back
    Cycle();
    EXPECT_EQ(OpenReassemblies(), 0u);
    std::vector<Bytes> whole = Fragments(Pattern(65523), 3000, false);
    for (const Bytes& f : whole) PeerSends(f);
    DeliverAll();
    ASSERT_EQ(inboxA.Count(), 1u);
    EXPECT_EQ(inboxA.Snapshot()[0].payload, Pattern(65523));
}

TEST_F(FragmentSteps, FirstFragmentThatIsTheWholeMessageIsDeliveredAtOnce) {
    Bytes payload = Pattern(100);
    PeerSends(Datagram(0, 0x04, 112, 800, 800, payload));
    EXPECT_EQ(OpenReassemblies(), 0u);
    DeliverAll();
    std::vector<Delivered> delivered = inboxA.Snapshot();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].payload, payload);
}

}  // namespace
