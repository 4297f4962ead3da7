// The three places where the engine cuts and joins long messages: dispatch
// of a long outgoing message, reassembly of received fragments, and expiry
// of reassemblies that stay incomplete. All run on the worker.
#include "gamelink/fragmentation.h"

#include <cstring>
#include <memory>

#include "gamelink/datagram_engine.h"
#include "platform/time.h"

void DatagramEngine::DispatchFragmented(DatagramRecord* message) {
    std::unique_ptr<DatagramRecord> owned(message);
    uint32_t payload = message->length - kDatagramHeaderSize;
    uint32_t count = FragmentCount(payload);
    bool reliable = message->retriesLeft > 0;
    PeerState* peer = reliable ? FindOrAddPeer(message->peerAddress) : nullptr;
    // One block of consecutive numbers, even with other engines numbering
    // at the same time: the message id is the first fragment's number.
    uint32_t first = NextSequence.fetch_add(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t piece = FragmentPieceLength(payload, i);
        DatagramRecord* fragment = DatagramRecord::WithData(piece + kDatagramHeaderSize);
        std::memcpy(fragment->Data() + kDatagramHeaderSize,
                    message->Data() + kDatagramHeaderSize + i * kMaxFragmentPayload, piece);
        fragment->peerAddress = message->peerAddress;
        fragment->interval = message->interval;
        fragment->retriesLeft = message->retriesLeft;
        DatagramHeader header;
        header.fragmentIndex = uint8_t(i);
        header.flags = FRAGMENT_FLAG | (reliable ? RELIABLE_FLAG : 0);
        header.totalLength = uint16_t(message->length);
        header.sequence = first + i;
        header.messageId = first;
        header.Encode(fragment->Data());
        if (reliable) peer->awaitingAck.Append(fragment);
        QueueForSending(fragment);
    }
}

void DatagramEngine::Reassemble(PeerState& peer, DatagramRecord* fragment) {
    std::unique_ptr<DatagramRecord> owned(fragment);
    DatagramHeader header = fragment->Header();
    uint32_t piece = fragment->length - kDatagramHeaderSize;
    peer.reassembly.ResetToHead();
    while (peer.reassembly.Advance()) {
        DatagramRecord* whole = peer.reassembly.Current();
        if (whole->Header().messageId != header.messageId) continue;
        // A piece that does not fit this message, or a second copy of one
        // already here, can only come from a damaged or foreign sender.
        if (header.totalLength != whole->length ||
            !FragmentFits(whole->length, header.fragmentIndex, piece) ||
            whole->fragmentsArrived.test(header.fragmentIndex))
            return;
        std::memcpy(
            whole->Data() + kDatagramHeaderSize + header.fragmentIndex * kMaxFragmentPayload,
            fragment->Data() + kDatagramHeaderSize, piece);
        whole->fragmentsArrived.set(header.fragmentIndex);
        if (--whole->retriesLeft == 0) {
            peer.reassembly.RemoveCurrent();
            reassemblyBytes -= whole->length;
            Deliver(whole);
        }
        return;
    }
    OpenReassembly(peer, fragment, header);
}

void DatagramEngine::OpenReassembly(PeerState& peer, DatagramRecord* fragment,
                                    const DatagramHeader& header) {
    uint32_t piece = fragment->length - kDatagramHeaderSize;
    if (!FragmentFits(header.totalLength, header.fragmentIndex, piece)) return;
    if (header.totalLength > kMaxReassemblyBytes - reassemblyBytes) return;
    DatagramRecord* whole = DatagramRecord::WithData(header.totalLength);
    std::memcpy(whole->Data(), fragment->Data(), kDatagramHeaderSize);
    std::memcpy(whole->Data() + kDatagramHeaderSize + header.fragmentIndex * kMaxFragmentPayload,
                fragment->Data() + kDatagramHeaderSize, piece);
    whole->peerAddress = fragment->peerAddress;
    whole->fragmentsArrived.set(header.fragmentIndex);
    whole->retriesLeft = FragmentCount(header.totalLength - kDatagramHeaderSize) - 1;
    whole->dueTime = DueTimeAfter(platform::TimeGetTime(), kReassemblyExpiryMs);
    // A first fragment that is the whole message has nothing to wait for.
    if (whole->retriesLeft == 0) {
        Deliver(whole);
        return;
    }
    peer.reassembly.Append(whole);
    reassemblyBytes += whole->length;
}

void DatagramEngine::ExpireReassemblies(PeerState& peer, uint32_t now) {
    peer.reassembly.ResetToHead();
    while (peer.reassembly.Advance()) {
        DatagramRecord* whole = peer.reassembly.Current();
        if (!DueTimeReached(now, whole->dueTime)) continue;
        peer.reassembly.RemoveCurrent();
        reassemblyBytes -= whole->length;
        delete whole;
    }
}
