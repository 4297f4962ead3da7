// The datagrams the receive thread hands to the worker. A flood cannot make
// it grow: it holds at most kCapacity datagrams, and at most kPerSender of
// one sender (address and port), so that a sender who floods the port
// leaves room for the others. A datagram that finds no room is dropped
// before anyone sees it: nothing acknowledges it, and a reliable sender
// sends it again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>
#include <utility>

#include "gamelink/datagram_record.h"
#include "gamelink/peer_state.h"
#include "platform/sync.h"

class ReceivedQueue {
public:
    // About a second of the worker's pace, at most 1 MiB of datagrams.
    static constexpr size_t kCapacity = 1024;
    // The fragments of two of the largest messages, or their acknowledgements.
    static constexpr size_t kPerSender = 2 * kMaxFragments;

    // Keeps a copy of the datagram; false (nothing kept) without room.
    bool Offer(const sockaddr_in& from, const uint8_t* bytes, size_t length) {
        platform::CriticalSectionGuard hold(lock_);
        if (fifo_.size() >= kCapacity) return false;
        auto held = perSender_.try_emplace(PeerKey(from), 0).first;
        if (held->second >= kPerSender) return false;
        try {
            fifo_.push_back(Datagram{from, std::vector<uint8_t>(bytes, bytes + length)});
        } catch (...) {
            if (held->second == 0) perSender_.erase(held);
            throw;
        }
        ++held->second;
        return true;
    }

    // The oldest datagram, or nothing when the queue is empty.
    std::optional<Datagram> TakeFront() {
        platform::CriticalSectionGuard hold(lock_);
        if (fifo_.empty()) return std::nullopt;
        std::optional<Datagram> front(std::move(fifo_.front()));
        fifo_.pop_front();
        auto held = perSender_.find(PeerKey(front->peerAddress));
        if (--held->second == 0) perSender_.erase(held);
        return front;
    }

private:
    platform::CriticalSection lock_;
    std::deque<Datagram> fifo_;
    std::unordered_map<uint64_t, size_t> perSender_;  // only senders with datagrams here
};
