#include "gamelink/peer_state.h"

#include "gamelink/due_time.h"

PeerState::PeerState(const sockaddr_in& address) : peerAddress(address) {}

PeerState::~PeerState() {
    history.ResetToHead();
    while (history.Advance()) {
        delete history.Current();
        history.RemoveCurrent();
    }
}

bool PeerState::Matches(const sockaddr_in& address) const {
    return peerAddress.sin_addr.s_addr == address.sin_addr.s_addr &&
           peerAddress.sin_port == address.sin_port;
}

bool PeerState::HasSeen(uint32_t sequence) {
    history.ResetToHead();
    while (history.Advance())
        if (history.Current()->sequence == sequence) return true;
    return false;
}

void PeerState::RememberSeen(uint32_t sequence, uint32_t expiry) {
    history.InsertAtHead(new SeenEntry{sequence, expiry});
    if (history.Count() <= kHistorySize) return;
    history.ResetToTail();
    history.Advance();
    delete history.Current();
    history.RemoveCurrent();
}

bool PeerState::IsIdle(uint32_t now) const {
    if (!awaitingAck.Empty() || !reassembly.Empty()) return false;
    const SeenEntry* newest = history.Head();
    return !newest || DueTimeReached(now, newest->expiry);
}
