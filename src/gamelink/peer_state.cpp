#include "gamelink/peer_state.h"

#include <algorithm>

#include "due_time.h"

bool PeerState::HasSeen(uint32_t sequence) const {
    return std::any_of(history.begin(), history.end(),
                       [sequence](const SeenEntry& seen) { return seen.sequence == sequence; });
}

void PeerState::RememberSeen(uint32_t sequence, uint32_t expiry) {
    history.push_front({sequence, expiry});
    if (history.size() > kHistorySize) history.pop_back();
}

bool PeerState::IsIdle(uint32_t now) const {
    if (!awaitingAck.empty() || !reassembly.empty()) return false;
    return history.empty() || DueTimeReached(now, history.front().expiry);
}
