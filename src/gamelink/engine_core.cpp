#include "gamelink/engine_core.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "due_time.h"

std::atomic<uint32_t> gamelink::NextSequence{0};

EngineCore::EngineCore(TransmitFn transmitFn, DeliverFn deliverFn, RoomFn roomFn,
                       std::atomic<uint32_t>& numbering)
    : transmit_(std::move(transmitFn)),
      deliver_(std::move(deliverFn)),
      room_(std::move(roomFn)),
      sequence_(numbering) {}

PeerState& EngineCore::PeerOf(const sockaddr_in& address) {
    return peers_.try_emplace(PeerKey(address), address).first->second;
}

bool EngineCore::Dispatch(Datagram message, uint32_t interval, uint32_t retries, uint32_t now) {
    size_t length = message.data.size();
    if (length < kDatagramHeaderSize || length > kMaxMessagePayload + kDatagramHeaderSize)
        return false;
    if (length > kMaxDatagramSize) {
        DispatchFragmented(message, interval, retries, now);
        return true;
    }
    DatagramHeader header;
    header.flags = retries > 0 ? RELIABLE_FLAG : 0;
    header.totalLength = uint16_t(length);
    header.sequence = sequence_.fetch_add(1);
    header.Encode(message.data.data());
    Transmit(std::move(message), header.sequence, interval, retries, now);
    return true;
}

// The first transmission of a numbered datagram; a reliable one then waits
// for its acknowledgement, and the resend clock starts now.
void EngineCore::Transmit(Datagram datagram, uint32_t number, uint32_t interval, uint32_t retries,
                          uint32_t now) {
    auto record = std::make_shared<DatagramRecord>(std::move(datagram));
    if (retries > 0)
        PeerOf(record->datagram.peerAddress)
            .awaitingAck.push_back({record, number, interval, now + interval, retries});
    transmit_(std::move(record));
}

void EngineCore::Service(uint32_t now) {
    for (auto it = peers_.begin(); it != peers_.end();) {
        PeerState& peer = it->second;
        ResendDue(peer, now);
        ExpireReassemblies(peer, now);
        it = peer.IsIdle(now) ? peers_.erase(it) : std::next(it);
    }
}

void EngineCore::ResendDue(PeerState& peer, uint32_t now) {
    auto& list = peer.awaitingAck;
    for (auto it = list.begin(); it != list.end();) {
        if (!DueTimeReached(now, it->dueTime)) {
            ++it;
            continue;
        }
        transmit_(it->record);
        it->dueTime = now + it->interval;
        // After its last transmission nothing waits for it any more.
        it = --it->retriesLeft == 0 ? list.erase(it) : std::next(it);
    }
}

bool EngineCore::Receive(Datagram datagram, uint32_t now) {
    size_t length = datagram.data.size();
    if (length < kDatagramHeaderSize || length > kMaxDatagramSize) return false;
    DatagramHeader header = DatagramHeader::Decode(datagram.data.data());
    auto known = peers_.find(PeerKey(datagram.peerAddress));
    if (header.flags & ACK_FLAG) {
        // Only a peer we sent to waits for acknowledgements.
        if (known != peers_.end()) Acknowledged(known->second, header.sequence);
        return true;
    }
    if ((room_ && !room_()) || (known == peers_.end() && peers_.size() >= kMaxPeers)) return false;
    PeerState& peer = known != peers_.end() ? known->second : PeerOf(datagram.peerAddress);
    uint32_t number = header.sequence;
    bool reliable = header.flags & RELIABLE_FLAG;
    // A copy is acknowledged again: our acknowledgement was lost.
    if (!peer.HasSeen(number)) {
        if (!(header.flags & FRAGMENT_FLAG))
            deliver_(std::move(datagram));
        else if (!Reassemble(peer, header, datagram, now))
            return false;
        peer.RememberSeen(number, now + kHistoryExpiryMs);
    }
    if (reliable) Acknowledge(peer.peerAddress, number);
    return false;
}

void EngineCore::Acknowledged(PeerState& peer, uint32_t number) {
    auto& list = peer.awaitingAck;
    auto it = std::find_if(list.begin(), list.end(),
                           [number](const AwaitingAck& entry) { return entry.sequence == number; });
    if (it == list.end()) return;
    it->record->acknowledged = true;
    list.erase(it);
}

void EngineCore::Acknowledge(const sockaddr_in& to, uint32_t number) {
    DatagramHeader header;
    header.flags = ACK_FLAG;
    header.sequence = number;
    Datagram ack{to, std::vector<uint8_t>(kDatagramHeaderSize)};
    header.Encode(ack.data.data());
    transmit_(std::make_shared<DatagramRecord>(std::move(ack)));
}
