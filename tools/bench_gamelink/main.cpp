// Measures the game link's engine on loopback: the round-trip time of a
// small reliable message (one engine echoes what the other sends) and the
// throughput of reliable messages in both directions at once, against the
// designed pace of one message per worker cycle with 5 ms of sleep every 5
// cycles (about 1,000 messages a second each way).
//
//   bench_gamelink [round trips, default 500] [messages each way, default 3000]
//   bench_gamelink flood [seconds, default 10]     (see flood.cpp)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "flood.h"
#include "gamelink/datagram_engine.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kDesignedPacePerSecond = 1000.0;

DatagramEngine* g_echoer = nullptr;
std::atomic<bool> g_echoing{true};
std::mutex g_lock;
std::condition_variable g_arrived;
long g_arrivedAtA = 0, g_arrivedAtB = 0;  // distinct messages
long g_copiesAtA = 0, g_copiesAtB = 0;    // the same message delivered again
Clock::time_point g_lastAtA, g_lastAtB;
std::vector<bool> g_seenAtA, g_seenAtB;

// Counts a delivery once per message id (the first 4 payload bytes).
void Count(const uint8_t* bytes, int32_t length, std::vector<bool>& seen, long& arrived,
           long& copies, Clock::time_point& last) {
    uint32_t id = length >= 4 ? uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                    uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24
                              : 0;
    std::lock_guard<std::mutex> hold(g_lock);
    if (id < seen.size() && seen[id]) {
        ++copies;
        return;
    }
    if (id < seen.size()) seen[id] = true;
    ++arrived;
    last = Clock::now();
    g_arrived.notify_all();
}

void AtA(sockaddr_in, const uint8_t* bytes, int32_t length) {
    if (g_echoing) {
        std::lock_guard<std::mutex> hold(g_lock);
        ++g_arrivedAtA;
        g_arrived.notify_all();
        return;
    }
    Count(bytes, length, g_seenAtA, g_arrivedAtA, g_copiesAtA, g_lastAtA);
}

void AtB(sockaddr_in from, const uint8_t* bytes, int32_t length) {
    if (g_echoing) {
        g_echoer->QueueMessage(from, bytes, length, 1000, 5);
        return;
    }
    Count(bytes, length, g_seenAtB, g_arrivedAtB, g_copiesAtB, g_lastAtB);
}

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    size_t index = size_t(share * double(values.size() - 1) + 0.5);
    return values[index];
}

void RoundTrips(DatagramEngine& a, DatagramEngine& b, int rounds) {
    std::vector<double> milliseconds;
    uint8_t payload[16] = {0x00, 0x41};
    for (int i = 0; i < rounds; ++i) {
        std::unique_lock<std::mutex> hold(g_lock);
        long before = g_arrivedAtA;
        auto sent = Clock::now();
        a.QueueMessage(b.LocalAddress(), payload, sizeof payload, 1000, 5);
        if (!g_arrived.wait_for(hold, std::chrono::seconds(5),
                                [&] { return g_arrivedAtA > before; })) {
            std::printf("round trip %d lost\n", i);
            continue;
        }
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    if (milliseconds.empty()) return;
    std::printf(
        "round trip of a %zu-byte reliable message (%zu rounds): median %.2f ms, p99 %.2f ms\n",
        sizeof payload, milliseconds.size(), Percentile(milliseconds, 0.5),
        Percentile(milliseconds, 0.99));
}

// Sends `count` messages from A to B, and as many from B to A when
// `bothWays`, and reports the pace at which distinct messages arrived.
void Throughput(DatagramEngine& a, DatagramEngine& b, long count, bool bothWays) {
    g_echoing = false;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_arrivedAtA = g_arrivedAtB = g_copiesAtA = g_copiesAtB = 0;
        g_seenAtA.assign(size_t(count), false);
        g_seenAtB.assign(size_t(count), false);
    }
    std::vector<uint8_t> payload(100, 0x5A);
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        for (int k = 0; k < 4; ++k) payload[k] = uint8_t(uint32_t(i) >> (8 * k));
        a.QueueMessage(b.LocalAddress(), payload.data(), int32_t(payload.size()), 1000, 5);
        if (bothWays)
            b.QueueMessage(a.LocalAddress(), payload.data(), int32_t(payload.size()), 1000, 5);
    }
    std::unique_lock<std::mutex> hold(g_lock);
    g_arrived.wait_for(hold, std::chrono::seconds(count / 100 + 30), [&] {
        return g_arrivedAtB >= count && (!bothWays || g_arrivedAtA >= count);
    });
    auto report = [&](const char* way, long arrived, long copies, Clock::time_point last) {
        double seconds = std::chrono::duration<double>(last - start).count();
        double rate = seconds > 0 ? double(arrived) / seconds : 0.0;
        std::printf(
            "  %s: %ld of %ld in %.2f s = %.0f messages/s = %.2f x the designed pace"
            " (%ld delivered twice)\n",
            way, arrived, count, seconds, rate, rate / kDesignedPacePerSecond, copies);
    };
    std::printf("throughput of %zu-byte reliable messages, %s:\n", payload.size(),
                bothWays ? "both ways at once" : "one way");
    report("A->B", g_arrivedAtB, g_copiesAtB, g_lastAtB);
    if (bothWays) report("B->A", g_arrivedAtA, g_copiesAtA, g_lastAtA);
    hold.unlock();
    // Let resends and acknowledgements of this round die down.
    std::this_thread::sleep_for(std::chrono::seconds(6));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "flood") == 0) {
        int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
        return RunFlood(seconds > 1 ? seconds : 2);
    }
    int rounds = argc > 1 ? std::atoi(argv[1]) : 500;
    long count = argc > 2 ? std::atol(argv[2]) : 3000;
    DatagramEngine a, b;
    g_echoer = &b;
    if (!a.Start(AtA, 0, "127.0.0.1") || !b.Start(AtB, 0, "127.0.0.1")) {
        std::fprintf(stderr, "cannot open the loopback sockets\n");
        return 1;
    }
    RoundTrips(a, b, rounds > 0 ? rounds : 1);
    Throughput(a, b, count > 0 ? count : 1, false);
    Throughput(a, b, count > 0 ? count : 1, true);
    return 0;
}
