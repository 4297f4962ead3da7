// The flood: a running game link (the facade, its engine and threads) on
// loopback, three senders sending it datagrams as fast as they can (reliable
// and unreliable messages, two-piece fragmented messages, stray
// acknowledgements) and one well-behaved reliable peer, the link's game
// server. The driver's stand-in takes every waiting message every 15 ms
// during the first half, then stops polling, as the driver does after
// discovery. Reports the resident memory before and after and how often the
// peer's message, sent during the flood, reached the driver.
#include "flood.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gamelink/datagram_engine.h"
#include "gamelink/game_link.h"
#include "platform/time.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr long kPeerVersion = 424242;  // marks the peer's answer

std::atomic<bool> g_haveLink{false};
sockaddr_in g_link{};

// The peer learns the link's address from its question.
void AtPeer(sockaddr_in from, const uint8_t*, int32_t) {
    if (!g_haveLink) {
        g_link = from;
        g_haveLink = true;
    }
}

// VmRSS or VmHWM of this process, in KiB.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) d[at + i] = uint8_t(value >> (8 * i));
}

// One flooding sender: a cycle of ten datagrams, four reliable messages,
// three unreliable ones, both pieces of a reliable 1,100-byte message and
// an acknowledgement of nothing, each with a number of its own.
void Flood(int index, const std::atomic<bool>& flooding, std::atomic<long>& sent) {
    platform::SocketHandle s = platform::Socket(AF_INET, SOCK_DGRAM, 0);
    std::mt19937 random(uint32_t(index) * 7919u);
    uint32_t sequence = uint32_t(index) << 28;
    std::vector<uint8_t> d;
    long count = 0;
    for (uint32_t i = 0; flooding; ++i, ++sequence) {
        uint32_t kind = i % 10, payload = 6 + random() % 300;
        uint8_t flags = kind < 4 ? 0x02 : kind < 7 ? 0x00 : kind < 9 ? 0x06 : 0x01;
        if (kind == 7 || kind == 8) payload = kind == 7 ? 1012 : 88;
        d.assign(12 + (flags == 0x01 ? 0 : payload), uint8_t(random()));
        d[0] = kind == 8 ? 1 : 0;
        d[1] = flags;
        uint32_t total = kind == 7 || kind == 8 ? 12 + 1100 : flags == 0x01 ? 0 : 12 + payload;
        d[2] = uint8_t(total);
        d[3] = uint8_t(total >> 8);
        Put32(d, 4, sequence);
        Put32(d, 8, kind == 7 || kind == 8 ? sequence - (kind - 7) : 0);
        if (platform::SendTo(s, d.data(), int(d.size()), g_link) > 0) ++count;
    }
    sent += count;
    platform::CloseSocket(s);
}

double Mib(long kib) { return double(kib) / 1024.0; }

}  // namespace

int RunFlood(int seconds) {
    GameLink gameLink;  // declared before the peer, so that it stops after it
    DatagramEngine peer;
    if (!peer.Start(AtPeer, 0, "127.0.0.1")) {
        std::fprintf(stderr, "cannot open the peer's socket\n");
        return 1;
    }
    gameLink.SetHost("127.0.0.1");
    gameLink.SetPort(ntohs(peer.LocalAddress().sin_port));
    if (!gameLink.Init()) {
        std::fprintf(stderr, "cannot open the link\n");
        return 1;
    }
    KVNPacket question;
    question << short(65);
    gameLink.Send(&question);
    for (int waited = 0; !g_haveLink && waited < 3000; waited += 10) platform::Sleep(10);
    if (!g_haveLink) {
        std::fprintf(stderr, "the peer never heard the link\n");
        return 1;
    }

    std::atomic<bool> flooding{true}, polling{true};
    std::atomic<long> sent{0}, taken{0}, answers{0};
    auto takeAll = [&] {
        KVNPacket* message = nullptr;
        while (gameLink.GetNextMessage(&message)) {
            ++taken;
            short id = 0;
            long version = 0;
            try {
                message->Seek(0, 0);
                message->Get(&id);
                message->Get(&version);
            } catch (...) {  // a flooder's message too short for both
            }
            if (id == 65 && version == kPeerVersion) ++answers;
            delete message;
        }
    };
    std::thread driver([&] {
        while (polling) {
            takeAll();
            platform::Sleep(15);
        }
    });
    platform::Sleep(500);  // the link's threads and buffers are in use
    long before = StatusKiB("VmRSS:");

    auto start = Clock::now();
    std::vector<std::thread> flooders;
    for (int i = 1; i <= 3; ++i)
        flooders.emplace_back(Flood, i, std::cref(flooding), std::ref(sent));
    bool answered = false, stopped = false;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        auto elapsed = Clock::now() - start;
        if (!answered && elapsed >= std::chrono::seconds(2)) {
            // The answer, resent every second until acknowledged, 6 times at most.
            KVNPacket answer;
            answer << short(65) << kPeerVersion << short(0);
            answer.EncryptPacket(platform::SecondsSinceEpoch());
            unsigned char* bytes = nullptr;
            int length = 0;
            answer.GetBuffer(bytes, length);
            peer.QueueMessage(g_link, bytes, length, 1000, 5);
            answered = true;
        }
        if (!stopped && elapsed >= std::chrono::seconds(seconds) / 2) {
            polling = false;
            driver.join();
            stopped = true;
        }
        platform::Sleep(20);
    }
    flooding = false;
    for (std::thread& flooder : flooders) flooder.join();
    if (!stopped) {
        polling = false;
        driver.join();
    }
    long after = StatusKiB("VmRSS:"), peak = StatusKiB("VmHWM:");
    long takenWhilePolling = taken;
    takeAll();

    std::printf(
        "flood: 3 senders, %d s, %ld datagrams sent (4 in 10 reliable, 3 unreliable,\n"
        "  2 fragments of a reliable 1,100-byte message, 1 acknowledgement of nothing)\n",
        seconds, sent.load());
    std::printf(
        "resident memory: before %.1f MiB, after %.1f MiB: growth %.2f MiB (peak %.1f MiB)\n",
        Mib(before), Mib(after), Mib(after - before), Mib(peak));
    std::printf("messages the driver took: %ld while it polled (first %d s), %ld waiting after\n",
                takenWhilePolling, seconds / 2, taken - takenWhilePolling);
    std::printf("the well-behaved peer's reliable answer, sent at 2 s: delivered %ld time(s)%s\n",
                answers.load(), answers == 1 ? " (exactly once)" : "");
    gameLink.Shutdown();
    return 0;
}
