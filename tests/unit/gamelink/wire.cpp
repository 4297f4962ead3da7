#include "wire.h"

#include <atomic>

#include "platform/time.h"

namespace {
std::atomic<uint32_t> g_now{0};
uint32_t ManualTick() { return g_now.load(); }
uint32_t Little32(const Bytes& d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 |
           uint32_t(d[at + 3]) << 24;
}
void PutLittle32(Bytes& d, uint32_t value) {
    for (int i = 0; i < 4; ++i) d.push_back(uint8_t(value >> (8 * i)));
}
}  // namespace

Bytes Datagram(uint8_t fragmentIndex, uint8_t flags, uint16_t totalLength, uint32_t sequence,
               uint32_t messageId, const Bytes& payload) {
    Bytes d{fragmentIndex, flags, uint8_t(totalLength), uint8_t(totalLength >> 8)};
    PutLittle32(d, sequence);
    PutLittle32(d, messageId);
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

Bytes AckFor(uint32_t sequence) { return Datagram(0, 0x01, 0, sequence, 0); }

Bytes Pattern(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i * 7 + seed + i / 251);
    return bytes;
}

uint32_t SequenceOf(const Bytes& d) { return Little32(d, 4); }
uint32_t MessageIdOf(const Bytes& d) { return Little32(d, 8); }
uint16_t TotalLengthOf(const Bytes& d) { return uint16_t(d[2] | d[3] << 8); }
Bytes PayloadOf(const Bytes& d) { return Bytes(d.begin() + 12, d.end()); }

std::vector<Bytes> Fragments(const Bytes& payload, uint32_t first, bool reliable) {
    std::vector<Bytes> fragments;
    size_t count = payload.size() / 1012 + 1;
    for (size_t i = 0; i < count; ++i) {
        size_t begin = i * 1012;
        size_t end = i + 1 < count ? begin + 1012 : payload.size();
        fragments.push_back(Datagram(uint8_t(i), reliable ? 0x06 : 0x04,
                                     uint16_t(payload.size() + 12), first + uint32_t(i), first,
                                     Bytes(payload.begin() + begin, payload.begin() + end)));
    }
    return fragments;
}

ManualClock::ManualClock(uint32_t start) {
    g_now = start;
    platform::SetTickSource(ManualTick);
}
ManualClock::~ManualClock() { platform::SetTickSource(nullptr); }
void ManualClock::Set(uint32_t now) { g_now = now; }
void ManualClock::Advance(uint32_t ms) { g_now += ms; }
uint32_t ManualClock::Now() { return g_now; }

#include <map>
#include <mutex>

namespace {
std::mutex g_inboxLock;
std::map<const Inbox*, std::vector<Delivered>> g_inboxes;
}  // namespace

Inbox inboxA, inboxB;

void Inbox::Add(const sockaddr_in& from, const uint8_t* bytes, int32_t length) {
    std::lock_guard<std::mutex> hold(g_inboxLock);
    g_inboxes[this].push_back({from, Bytes(bytes, bytes + length)});
}
std::vector<Delivered> Inbox::Snapshot() {
    std::lock_guard<std::mutex> hold(g_inboxLock);
    return g_inboxes[this];
}
size_t Inbox::Count() {
    std::lock_guard<std::mutex> hold(g_inboxLock);
    return g_inboxes[this].size();
}
void Inbox::Clear() {
    std::lock_guard<std::mutex> hold(g_inboxLock);
    g_inboxes[this].clear();
}
void DeliverToA(sockaddr_in from, const uint8_t* bytes, int32_t length) {
    inboxA.Add(from, bytes, length);
}
void DeliverToB(sockaddr_in from, const uint8_t* bytes, int32_t length) {
    inboxB.Add(from, bytes, length);
}
