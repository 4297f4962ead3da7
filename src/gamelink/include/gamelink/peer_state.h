// What the engine knows about one peer (IPv4 address and UDP port): the
// reliable datagrams it has not acknowledged, its partly received messages
// and the sequence numbers it sent recently.
#pragma once

#include <bitset>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "gamelink/datagram_header.h"
#include "gamelink/datagram_record.h"

// The history remembers this many sequence numbers per peer.
constexpr size_t kHistorySize = 100;
// A message of at most 65,523 payload bytes has at most 65 fragments.
constexpr uint32_t kMaxFragments = kMaxMessagePayload / kMaxFragmentPayload + 1;

// Peers are told apart by address and port; the rest of the socket address
// does not count.
inline uint64_t PeerKey(const sockaddr_in& address) {
    return uint64_t(address.sin_addr.s_addr) << 16 | address.sin_port;
}

// A reliable datagram sent and not acknowledged yet.
struct AwaitingAck {
    std::shared_ptr<DatagramRecord> record;
    uint32_t sequence;
    uint32_t interval;     // ms between transmissions
    uint32_t dueTime;      // tick of the next transmission
    uint32_t retriesLeft;  // transmissions still allowed after the last one
};

// A fragmented message being put together.
struct Reassembly {
    uint32_t messageId;
    Datagram whole;    // the opening fragment's header, then the payload
    uint32_t missing;  // fragments still to come
    uint32_t dueTime;  // given up at this tick
    std::bitset<kMaxFragments> arrived;
};

// A sequence number received, remembered until `expiry`.
struct SeenEntry {
    uint32_t sequence;
    uint32_t expiry;
};

class PeerState {
public:
    explicit PeerState(const sockaddr_in& address) : peerAddress(address) {}

    bool HasSeen(uint32_t sequence) const;
    // Records a sequence number as the newest, forgetting the oldest beyond
    // the history's size.
    void RememberSeen(uint32_t sequence, uint32_t expiry);
    // Nothing pending and the newest history entry (if any) expired: the
    // peer can be forgotten.
    bool IsIdle(uint32_t now) const;

    sockaddr_in peerAddress;
    std::vector<AwaitingAck> awaitingAck;  // oldest first
    std::vector<Reassembly> reassembly;    // oldest first
    std::deque<SeenEntry> history;         // newest first
};
