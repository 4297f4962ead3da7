// The three places where the core cuts and joins long messages: dispatch
// of a long outgoing message, reassembly of received fragments, and expiry
// of reassemblies that stay incomplete.
#include "fragmentation.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "due_time.h"
#include "gamelink/engine_core.h"

namespace {
void PlacePiece(Reassembly& open, uint8_t index, const Datagram& fragment) {
    std::copy(fragment.data.begin() + kDatagramHeaderSize, fragment.data.end(),
              open.whole.data.begin() + kDatagramHeaderSize + index * kMaxFragmentPayload);
    open.arrived.set(index);
}
}  // namespace

void EngineCore::DispatchFragmented(const Datagram& message, uint32_t interval, uint32_t retries,
                                    uint32_t now) {
    uint32_t total = uint32_t(message.data.size());
    uint32_t payload = total - kDatagramHeaderSize;
    uint32_t count = FragmentCount(payload);
    // One block of consecutive numbers, even with other engines numbering
    // at the same time: the message id is the first fragment's number.
    uint32_t first = sequence_.fetch_add(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto piece = message.data.begin() + kDatagramHeaderSize + i * kMaxFragmentPayload;
        Datagram fragment{message.peerAddress, std::vector<uint8_t>(kDatagramHeaderSize)};
        fragment.data.insert(fragment.data.end(), piece, piece + FragmentPieceLength(payload, i));
        DatagramHeader header;
        header.fragmentIndex = uint8_t(i);
        header.flags = FRAGMENT_FLAG | (retries > 0 ? RELIABLE_FLAG : 0);
        header.totalLength = uint16_t(total);
        header.sequence = first + i;
        header.messageId = first;
        header.Encode(fragment.data.data());
        Transmit(std::move(fragment), header.sequence, interval, retries, now);
    }
}

bool EngineCore::Reassemble(PeerState& peer, const DatagramHeader& header, const Datagram& fragment,
                            uint32_t now) {
    auto& list = peer.reassembly;
    auto open = std::find_if(list.begin(), list.end(), [&header](const Reassembly& r) {
        return r.messageId == header.messageId;
    });
    if (open == list.end()) return OpenReassembly(peer, header, fragment, now);
    // A piece that does not fit this message, or a second copy of one
    // already here, can only come from a damaged or foreign sender: it is
    // taken and thrown away.
    uint32_t total = uint32_t(open->whole.data.size());
    uint32_t piece = uint32_t(fragment.data.size()) - kDatagramHeaderSize;
    if (header.totalLength != total || !FragmentFits(total, header.fragmentIndex, piece) ||
        open->arrived.test(header.fragmentIndex))
        return true;
    PlacePiece(*open, header.fragmentIndex, fragment);
    if (--open->missing > 0) return true;
    reassemblyBytes_ -= total;
    Datagram whole = std::move(open->whole);
    list.erase(open);
    deliver_(std::move(whole));
    return true;
}

bool EngineCore::OpenReassembly(PeerState& peer, const DatagramHeader& header,
                                const Datagram& fragment, uint32_t now) {
    uint32_t total = header.totalLength;
    uint32_t piece = uint32_t(fragment.data.size()) - kDatagramHeaderSize;
    if (!FragmentFits(total, header.fragmentIndex, piece)) return true;
    // Refused, not thrown away: the sender sends it again once there is room.
    if (total > kMaxReassemblyBytes - reassemblyBytes_) return false;
    Reassembly open{header.messageId,
                    Datagram{fragment.peerAddress, std::vector<uint8_t>(total)},
                    FragmentCount(total - kDatagramHeaderSize) - 1,
                    now + kReassemblyExpiryMs,
                    {}};
    std::copy_n(fragment.data.begin(), kDatagramHeaderSize, open.whole.data.begin());
    PlacePiece(open, header.fragmentIndex, fragment);
    // A first fragment that is the whole message has nothing to wait for.
    if (open.missing == 0) {
        deliver_(std::move(open.whole));
        return true;
    }
    reassemblyBytes_ += total;
    peer.reassembly.push_back(std::move(open));
    return true;
}

void EngineCore::ExpireReassemblies(PeerState& peer, uint32_t now) {
    auto& list = peer.reassembly;
    for (auto it = list.begin(); it != list.end();) {
        if (!DueTimeReached(now, it->dueTime)) {
            ++it;
            continue;
        }
        reassemblyBytes_ -= uint32_t(it->whole.data.size());
        it = list.erase(it);
    }
}
