// One engine driven step by step (no threads) on a real loopback socket, a
// raw peer beside it and a tick that only moves when the test says so.
#pragma once

#include <gtest/gtest.h>

#include "gamelink/datagram_engine.h"
#include "wire.h"

class EngineSteps : public ::testing::Test {
protected:
    static constexpr uint32_t kStart = 1000000;

    EngineSteps() : clock(kStart), baseline(DatagramRecord::LiveCount()) {}

    void SetUp() override {
        ASSERT_EQ(engine.Open(0, "127.0.0.1"), 1);
        engine.SetCallback(DeliverToA);
        inboxA.Clear();
    }
    void TearDown() override { inboxA.Clear(); }

    sockaddr_in EngineAddress() const { return engine.LocalAddress(); }
    const sockaddr_in& PeerAddress() const { return peer.Address(); }

    // The peer sends; the engine's receive step takes it and the worker
    // handles it.
    void PeerSends(const Bytes& datagram) {
        peer.SendTo(EngineAddress(), datagram);
        ASSERT_TRUE(engine.ReceiveOnce()) << "datagram of " << datagram.size() << " bytes";
        engine.ServiceIncoming();
    }
    void Cycle() {
        engine.ServiceOutgoing();
        engine.ServiceIncoming();
    }
    // Runs the send queue dry; the number of entries it held.
    int SendAll() {
        int entries = 0;
        while (engine.SendNext()) ++entries;
        return entries;
    }
    int DeliverAll() {
        int messages = 0;
        while (engine.DeliverNext()) ++messages;
        return messages;
    }
    long RecordsHeld() const { return DatagramRecord::LiveCount() - baseline; }
    std::vector<Bytes> PeerReceivesAll() { return peer.ReceiveAll(50); }

    ManualClock clock;
    long baseline;
    RawPeer peer;
    DatagramEngine engine;
};
