// What the worker knows about one peer (IPv4 address and UDP port): the
// reliable datagrams it has not acknowledged, its partly received messages
// and the sequence numbers it sent recently.
#pragma once

#include "gamelink/cursor_list.h"
#include "gamelink/datagram_record.h"
#include "gamelink/seen_entry.h"
#include "platform/socket.h"

// The history remembers this many sequence numbers per peer.
constexpr size_t kHistorySize = 100;

class PeerState {
public:
    explicit PeerState(const sockaddr_in& address);
    // Releases the history entries; records are released by their owners.
    ~PeerState();
    PeerState(const PeerState&) = delete;
    PeerState& operator=(const PeerState&) = delete;

    // Address and port equal; the other bytes of the address do not count.
    bool Matches(const sockaddr_in& address) const;
    bool HasSeen(uint32_t sequence);
    // Records a sequence number as the newest, forgetting the oldest beyond
    // the history's size.
    void RememberSeen(uint32_t sequence, uint32_t expiry);
    // True when nothing is pending and the newest history entry (if any)
    // has expired: the peer can be forgotten.
    bool IsIdle(uint32_t now) const;

    sockaddr_in peerAddress;
    CursorList<DatagramRecord> awaitingAck;
    CursorList<DatagramRecord> reassembly;
    CursorList<SeenEntry> history;  // newest first
};
