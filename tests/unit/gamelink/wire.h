// Datagrams of the game link built and read byte by byte, as a peer that
// knows only the wire format would, plus a tick the tests move by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raw_peer.h"

Bytes Datagram(uint8_t fragmentIndex, uint8_t flags, uint16_t totalLength, uint32_t sequence,
               uint32_t messageId, const Bytes& payload = {});
Bytes AckFor(uint32_t sequence);
Bytes Pattern(size_t length, uint8_t seed = 1);
uint32_t SequenceOf(const Bytes& datagram);
uint32_t MessageIdOf(const Bytes& datagram);
uint16_t TotalLengthOf(const Bytes& datagram);
Bytes PayloadOf(const Bytes& datagram);

// The fragments a peer would send for a message: indices 0..n-1 with
// `first` + i as sequence numbers and `first` as message id.
std::vector<Bytes> Fragments(const Bytes& payload, uint32_t first, bool reliable);

// The tick as the tests set it; installed with platform::SetTickSource.
class ManualClock {
public:
    explicit ManualClock(uint32_t start);
    ~ManualClock();
    static void Set(uint32_t now);
    static void Advance(uint32_t ms);
    static uint32_t Now();
};

// Messages handed to a delivery callback, kept for the test to read.
struct Delivered {
    sockaddr_in from;
    Bytes payload;
};
class Inbox {
public:
    void Add(const sockaddr_in& from, const uint8_t* bytes, int32_t length);
    std::vector<Delivered> Snapshot();
    size_t Count();
    void Clear();
};
// Two inboxes and the plain-function callbacks that fill them.
extern Inbox inboxA, inboxB;
void DeliverToA(sockaddr_in from, const uint8_t* bytes, int32_t length);
void DeliverToB(sockaddr_in from, const uint8_t* bytes, int32_t length);
