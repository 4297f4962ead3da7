#include "engine_fixture.h"

namespace {

TEST_F(EngineSteps, ReliableMessageHeaderAndAcknowledgementReleaseIt) {
    NextSequence = 7;
    Bytes payload = Pattern(10);
    engine.QueueMessage(PeerAddress(), payload.data(), 10, 1000, 5);
    Cycle();
    EXPECT_EQ(NextSequence.load(), 8u);
    EXPECT_EQ(SendAll(), 1);
    std::vector<Bytes> sent = PeerReceivesAll();
    ASSERT_EQ(sent.size(), 1u);
    Bytes expected = {0x00, 0x02, 0x16, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0};
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(sent[0], expected);

    PeerSends(AckFor(7));
    EXPECT_EQ(SendAll(), 1);  // the acknowledged record passes the send thread once more
    EXPECT_EQ(RecordsHeld(), 0);
    for (int i = 0; i < 8; ++i) {
        ManualClock::Advance(1000);
        Cycle();
        EXPECT_EQ(SendAll(), 0);
    }
    EXPECT_TRUE(PeerReceivesAll().empty());
    EXPECT_EQ(NextSequence.load(), 8u);  // acknowledgements take no number
}

TEST_F(EngineSteps, SilentPeerGetsSixTransmissionsOneSecondApart) {
    Bytes payload = Pattern(40);
    engine.QueueMessage(PeerAddress(), payload.data(), 40, 1000, 5);
    Cycle();
    ASSERT_EQ(SendAll(), 1);
    std::vector<Bytes> transmissions = PeerReceivesAll();
    for (int resend = 1; resend <= 5; ++resend) {
        ManualClock::Advance(999);
        Cycle();
        EXPECT_EQ(SendAll(), 0) << "resend " << resend << " came early";
        ManualClock::Advance(1);
        Cycle();
        EXPECT_EQ(SendAll(), 1) << "resend " << resend << " did not come";
        for (Bytes& d : PeerReceivesAll()) transmissions.push_back(d);
    }
    ASSERT_EQ(transmissions.size(), 6u);
    for (const Bytes& d : transmissions) EXPECT_EQ(d, transmissions[0]);
    EXPECT_EQ(RecordsHeld(), 0);  // released after the sixth
    ManualClock::Advance(60000);
    Cycle();
    EXPECT_EQ(SendAll(), 0);
    EXPECT_TRUE(PeerReceivesAll().empty());
    EXPECT_EQ(engine.PeerCount(), 0u);
    PeerSends(AckFor(SequenceOf(transmissions[0])));  // too late: matches nothing
    EXPECT_EQ(SendAll(), 0);
}

TEST_F(EngineSteps, ResendsKeepTheirPaceAcrossTheTickWrap) {
    ManualClock::Set(0xFFFFFF00u);
    Bytes payload = Pattern(3);
    engine.QueueMessage(PeerAddress(), payload.data(), 3, 1000, 5);
    Cycle();
    ASSERT_EQ(SendAll(), 1);
    ManualClock::Advance(100);  // not wrapped yet; the deadline already has
    Cycle();
    EXPECT_EQ(SendAll(), 0);
    ManualClock::Advance(899);  // the tick has wrapped to a small number
    Cycle();
    EXPECT_EQ(SendAll(), 0);
    ManualClock::Advance(1);
    Cycle();
    EXPECT_EQ(SendAll(), 1);
    EXPECT_EQ(PeerReceivesAll().size(), 2u);
}

TEST_F(EngineSteps, AcknowledgementWhileAResendWaitsSkipsItAndReleasesOnce) {
    engine.QueueMessage(PeerAddress(), Pattern(5).data(), 5, 1000, 5);
    Cycle();
    SendAll();
    ASSERT_EQ(PeerReceivesAll().size(), 1u);
    uint32_t sequence = NextSequence - 1;
    ManualClock::Advance(1000);
    engine.ServiceOutgoing();     // queued for its second transmission
    PeerSends(AckFor(sequence));  // queued once more, now acknowledged
    EXPECT_EQ(SendAll(), 2);
    EXPECT_TRUE(PeerReceivesAll().empty());
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(EngineSteps, AcknowledgementsDoNotWaitBehindTheOneMessagePerCycle) {
    // Under load a peer's messages and acknowledgements share the receive
    // queue; acknowledgements held back there past the resend interval
    // would trigger copies that outlive the peer's duplicate history.
    engine.QueueMessage(PeerAddress(), Pattern(4).data(), 4, 1000, 5);
    engine.QueueMessage(PeerAddress(), Pattern(4).data(), 4, 1000, 5);
    Cycle();
    Cycle();
    ASSERT_EQ(SendAll(), 2);
    std::vector<Bytes> sent = PeerReceivesAll();
    ASSERT_EQ(sent.size(), 2u);
    for (const Bytes& datagram :
         {AckFor(SequenceOf(sent[0])), AckFor(SequenceOf(sent[1])),
          Datagram(0, 0, 13, 900, 0, {'m'}), Datagram(0, 0, 13, 901, 0, {'n'})}) {
        peer.SendTo(EngineAddress(), datagram);
        ASSERT_TRUE(engine.ReceiveOnce());
    }
    engine.ServiceIncoming();  // both acknowledgements and one message
    EXPECT_EQ(SendAll(), 2);
    EXPECT_EQ(DeliverAll(), 1);
    engine.ServiceIncoming();
    EXPECT_EQ(DeliverAll(), 1);
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(EngineSteps, UnreliableMessageGoesOutOnceAndIsReleased) {
    NextSequence = 300;
    engine.QueueMessage(PeerAddress(), Pattern(2).data(), 2, 1000, 0);
    Cycle();
    EXPECT_EQ(SendAll(), 1);
    std::vector<Bytes> sent = PeerReceivesAll();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Datagram(0, 0x00, 14, 300, 0, Pattern(2)));
    EXPECT_EQ(RecordsHeld(), 0);
    EXPECT_EQ(engine.PeerCount(), 0u);  // unreliable messages need no peer state
}

TEST_F(EngineSteps, ReliableDuplicateIsAcknowledgedTwiceAndDeliveredOnce) {
    Bytes message = Datagram(0, 0x02, 17, 7, 0, {'h', 'e', 'l', 'l', 'o'});
    PeerSends(message);
    PeerSends(message);
    EXPECT_EQ(SendAll(), 2);
    std::vector<Bytes> acks = PeerReceivesAll();
    ASSERT_EQ(acks.size(), 2u);
    const Bytes ack7 = {0x00, 0x01, 0x00, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(acks[0], ack7);
    EXPECT_EQ(acks[1], ack7);

    Bytes unreliable = Datagram(0, 0x00, 13, 8, 0, {'x'});
    PeerSends(unreliable);
    PeerSends(unreliable);
    EXPECT_EQ(SendAll(), 0);  // unreliable: no acknowledgement
    EXPECT_EQ(DeliverAll(), 2);
    std::vector<Delivered> delivered = inboxA.Snapshot();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].payload, (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(delivered[0].from.sin_port, PeerAddress().sin_port);
    EXPECT_EQ(delivered[1].payload, Bytes{'x'});
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(EngineSteps, HistoryRemembersTheLastHundredSequenceNumbers) {
    for (uint32_t s = 1000; s < 1100; ++s) PeerSends(Datagram(0, 0, 12, s, 0));
    PeerSends(Datagram(0, 0, 12, 1000, 0));  // 100 distinct: still known
    EXPECT_EQ(DeliverAll(), 100);
    PeerSends(Datagram(0, 0, 12, 1100, 0));  // the 101st pushes 1000 out
    PeerSends(Datagram(0, 0, 12, 1000, 0));
    PeerSends(Datagram(0, 0, 12, 1002, 0));  // still remembered
    EXPECT_EQ(DeliverAll(), 2);
}

TEST_F(EngineSteps, PeerIsForgottenFifteenSecondsAfterItsLastDatagram) {
    Bytes message = Datagram(0, 0x02, 13, 5, 0, {'a'});
    PeerSends(message);
    SendAll();
    ASSERT_EQ(engine.PeerCount(), 1u);
    ManualClock::Advance(14999);
    Cycle();
    EXPECT_EQ(engine.PeerCount(), 1u);
    PeerSends(message);  // a duplicate: refreshes nothing
    ManualClock::Advance(1);
    Cycle();
    EXPECT_EQ(engine.PeerCount(), 0u);
    PeerSends(message);  // history gone with the peer: delivered again
    EXPECT_EQ(DeliverAll(), 2);
    SendAll();
    PeerReceivesAll();
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(EngineSteps, UnmatchedAcknowledgementOnlyLeavesAPeerUntilTheNextScan) {
    PeerSends(AckFor(12345));
    EXPECT_EQ(engine.PeerCount(), 1u);
    EXPECT_EQ(SendAll(), 0);
    Cycle();
    EXPECT_EQ(engine.PeerCount(), 0u);
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST_F(EngineSteps, ShortDatagramsAreDroppedAndABareHeaderIsAnEmptyMessage) {
    peer.SendTo(EngineAddress(), Bytes(11, 0));
    EXPECT_FALSE(engine.ReceiveOnce());
    PeerSends(Datagram(0, 0x00, 12, 77, 0));
    EXPECT_EQ(DeliverAll(), 1);
    std::vector<Delivered> delivered = inboxA.Snapshot();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(delivered[0].payload.empty());
    // What arrives from outside never exceeds one receive buffer.
    EXPECT_FALSE(engine.AcceptDatagram(PeerAddress(), Bytes(1025, 0).data(), 1025));
}

TEST_F(EngineSteps, MessagesTooLongForTheHeaderAreRefused) {
    Bytes huge(65524, 1);
    EXPECT_EQ(engine.QueueMessage(PeerAddress(), huge.data(), 65524, 1000, 5), 0);
    EXPECT_EQ(engine.QueueMessage(PeerAddress(), huge.data(), -1, 1000, 5), 0);
    EXPECT_EQ(engine.QueueMessage(PeerAddress(), nullptr, 4, 1000, 5), 0);
    Cycle();
    EXPECT_EQ(SendAll(), 0);
    EXPECT_EQ(RecordsHeld(), 0);
}

TEST(EngineStart, FailedStartHoldsQueuedMessagesUntilTheEngineGoes) {
    long before = DatagramRecord::LiveCount();
    {
        DatagramEngine engine;
        EXPECT_EQ(engine.Start(DeliverToA, 0, "not an address"), 0);
        Bytes payload = Pattern(8);
        engine.QueueMessage(Loopback(htons(9)), payload.data(), 8, 1000, 5);
        EXPECT_EQ(DatagramRecord::LiveCount(), before + 1);
    }
    EXPECT_EQ(DatagramRecord::LiveCount(), before);  // released, not leaked
}

}  // namespace
