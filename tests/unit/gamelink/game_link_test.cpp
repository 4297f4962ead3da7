// The facade against a game server played by a raw socket that enciphers
// and deciphers by hand.
#include "gamelink/game_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/debug.h"
#include "wire.h"

namespace {

// The packet cipher as a peer implements it from the wire format.
void ApplyKeystream(Bytes& datagram, uint16_t seed) {
    uint32_t state = seed;
    for (size_t i = 4; i < datagram.size(); ++i) {
        state = state * 7563921u + 1u;
        datagram[i] ^= uint8_t(state);
    }
}
uint16_t SumOf(const Bytes& datagram) {
    uint32_t sum = 0;
    for (size_t i = 4; i < datagram.size(); ++i) sum += datagram[i];
    return uint16_t(sum);
}
Bytes Encipher(const Bytes& body, uint16_t seed) {
    Bytes datagram(4 + body.size());
    datagram[0] = uint8_t(seed);
    datagram[1] = uint8_t(seed >> 8);
    std::copy(body.begin(), body.end(), datagram.begin() + 4);
    uint16_t sum = SumOf(datagram);
    datagram[2] = uint8_t(sum);
    datagram[3] = uint8_t(sum >> 8);
    ApplyKeystream(datagram, seed);
    return datagram;
}
// The plain body, or nothing when the checksum does not match.
bool Decipher(Bytes datagram, Bytes* body) {
    ApplyKeystream(datagram, uint16_t(datagram[0] | datagram[1] << 8));
    if (SumOf(datagram) != uint16_t(datagram[2] | datagram[3] << 8)) return false;
    body->assign(datagram.begin() + 4, datagram.end());
    return true;
}

void DrainMessages() {
    KVNPacket* packet = nullptr;
    while (gameLink.GetNextMessage(&packet)) delete packet;
}

std::string LongLabel(char first) { return first + std::string(70, 'x'); }

class GameLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        gameLink.Shutdown();
        DrainMessages();
        gameLink.SetHost("127.0.0.1");
        gameLink.SetPort(ntohs(server.Address().sin_port));
        ASSERT_EQ(gameLink.Init(OnDatagram), 1);
        platform::TakeDebugOutput();
    }
    void TearDown() override {
        gameLink.Shutdown();
        DrainMessages();
    }
    sockaddr_in LinkAddress() const { return Loopback(gameLink.LocalAddress()->sin_port); }

    RawPeer server;
};

TEST_F(GameLinkTest, SendEnciphersQueuesReliablyAndTracesOnce) {
    KVNPacket request;
    request << short(65) << long(7);
    gameLink.Send(&request);
    EXPECT_EQ(platform::TakeDebugOutput(), std::vector<std::string>{"Send Packet!\r\n"});

    Bytes datagram;
    ASSERT_TRUE(server.Receive(&datagram, 3000));
    ASSERT_EQ(datagram.size(), 12u + 10u);
    EXPECT_EQ(datagram[1], 0x02);  // reliable
    EXPECT_EQ(TotalLengthOf(datagram), 22);
    Bytes body;
    ASSERT_TRUE(Decipher(PayloadOf(datagram), &body));
    EXPECT_EQ(body, (Bytes{0x00, 0x41, 0, 0, 0, 7}));
    unsigned char* bytes = nullptr;
    int length = 0;
    request.GetBuffer(bytes, length);  // left enciphered, as sent
    EXPECT_EQ(Bytes(bytes, bytes + length), PayloadOf(datagram));

    server.SendTo(LinkAddress(), AckFor(SequenceOf(datagram)));
    KVNPacket second;
    second << short(66);
    gameLink.Send(&second);
    EXPECT_EQ(platform::TakeDebugOutput(), std::vector<std::string>{"Send Packet!\r\n"});
    ASSERT_TRUE(server.Receive(&datagram, 3000));
    ASSERT_TRUE(Decipher(PayloadOf(datagram), &body));
    EXPECT_EQ(body, (Bytes{0x00, 0x42}));
}

TEST_F(GameLinkTest, ReceivedMessagesComeOutInOrderAndBelongToTheCaller) {
    KVNPacket* untouched = reinterpret_cast<KVNPacket*>(0x1);
    EXPECT_EQ(gameLink.GetNextMessage(&untouched), 0);
    EXPECT_EQ(untouched, reinterpret_cast<KVNPacket*>(0x1));

    Bytes tooShort = {1, 2, 3, 4, 5};  // no room for a packet id: dropped
    Bytes answer = Encipher({0x00, 0x41, 0x00, 0x00, 0x01, 0x02}, 77);
    Bytes other = Encipher({0x00, 0x42}, 300);
    Bytes damaged = Encipher({0x00, 0x43}, 5);
    damaged[5] ^= 0x10;
    uint32_t sequence = 10;
    for (const Bytes& payload : {tooShort, answer, other, damaged})
        server.SendTo(LinkAddress(),
                      Datagram(0, 0x02, uint16_t(payload.size() + 12), sequence++, 0, payload));

    std::vector<KVNPacket*> taken;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (taken.size() < 3 && std::chrono::steady_clock::now() < deadline) {
        KVNPacket* packet = nullptr;
        if (gameLink.GetNextMessage(&packet))
            taken.push_back(packet);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    ASSERT_EQ(taken.size(), 3u);
    short id = 0;
    long value = 0;
    taken[0]->Seek(0, 0);
    taken[0]->Get(&id);
    taken[0]->Get(&value);
    EXPECT_EQ(id, 65);
    EXPECT_EQ(value, 0x0102);
    EXPECT_EQ(taken[1]->GetPacketID(), 66);
    EXPECT_NE(taken[2]->GetPacketID(), 67);         // queued although its checksum failed
    for (KVNPacket* packet : taken) delete packet;  // the caller owns them (and their bytes)

    std::vector<Bytes> acks = server.ReceiveAll(100);
    EXPECT_EQ(acks.size(), 4u);  // every reliable datagram is acknowledged
    KVNPacket* none = nullptr;
    EXPECT_EQ(gameLink.GetNextMessage(&none), 0);
}

TEST(GameLinkHost, LeadingDigitIsNeverResolvedByName) {
    // A label over 63 characters fails in the resolver before any query
    // leaves the machine.
    gameLink.Shutdown();
    gameLink.SetHost(LongLabel('9').c_str());
    EXPECT_EQ(gameLink.Init(OnDatagram), 1);  // taken as a (bad) dotted address
    gameLink.Shutdown();
    gameLink.SetHost(LongLabel('n').c_str());
    EXPECT_EQ(gameLink.Init(OnDatagram), 0);
    gameLink.Shutdown();
    gameLink.SetHost("localhost");
    EXPECT_EQ(gameLink.Init(OnDatagram), 1);
    gameLink.Shutdown();
}

TEST(GameLinkLifecycle, ShutdownWithoutInitAndSendAfterShutdown) {
    gameLink.Shutdown();
    gameLink.Shutdown();
    EXPECT_EQ(gameLink.LocalAddress(), nullptr);
    platform::TakeDebugOutput();
    KVNPacket orphan;
    orphan << short(65);
    gameLink.Send(&orphan);  // no link: dropped, nothing breaks
    EXPECT_EQ(platform::TakeDebugOutput().size(), 1u);
    KVNPacket* none = nullptr;
    EXPECT_EQ(gameLink.GetNextMessage(&none), 0);
}

}  // namespace
