// The protocol of the reliable datagram engine without any I/O: numbering,
// acknowledgements, resends, the duplicate history, peer expiry,
// fragmentation and reassembly. It owns no socket, thread or lock and never
// reads the clock: every call brings `now` (the millisecond tick), datagrams
// leave through the transmit callback and complete messages through the
// delivery callback. One thread at a time calls it (the engine's worker).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "gamelink/datagram_header.h"
#include "gamelink/datagram_record.h"
#include "gamelink/peer_state.h"

namespace gamelink {

// Sequence numbers of the process: one per message or fragment, across all
// peers and engines; acknowledgements do not take one.
extern std::atomic<uint32_t> NextSequence;

}  // namespace gamelink

class EngineCore {
public:
    // Reassemblies are given up this long after they opened.
    static constexpr uint32_t kReassemblyExpiryMs = 10000;
    // Bytes that open reassemblies may hold together, over all peers: 16
    // messages of the largest size. Anyone can send first fragments of
    // large messages; beyond this their fragments are refused until some
    // reassembly completes or expires.
    static constexpr uint32_t kMaxReassemblyBytes = 16 * (kMaxMessagePayload + kDatagramHeaderSize);
    // A sequence number is remembered this long after it arrived.
    static constexpr uint32_t kHistoryExpiryMs = 15000;
    // Peers known at once. Every new sender gets one, kept 15 s after its
    // last datagram; when the table is full, datagrams from new senders are
    // refused until a peer is forgotten. Our own messages always get one.
    static constexpr size_t kMaxPeers = 1024;

    // A datagram to put on the wire; a reliable one comes again for every
    // resend. Neither callback may call back into the core.
    using TransmitFn = std::function<void(std::shared_ptr<const DatagramRecord>)>;
    // A complete received message: 12 header bytes, then the payload.
    using DeliverFn = std::function<void(Datagram)>;
    // Asked before a received datagram is taken: false while there is no
    // room for what it brings (a message to deliver, an acknowledgement to
    // send). None: always room.
    using RoomFn = std::function<bool()>;

    EngineCore(TransmitFn transmit, DeliverFn deliver, RoomFn room = {},
               std::atomic<uint32_t>& numbering = gamelink::NextSequence);
    EngineCore(const EngineCore&) = delete;
    EngineCore& operator=(const EngineCore&) = delete;

    // Numbers and transmits one message whose data holds 12 free header
    // bytes and the payload. retries 0: unreliable; otherwise it goes out
    // again every `interval` ms until acknowledged, 1 + retries times in
    // all. False (nothing sent) over 65,523 payload bytes.
    bool Dispatch(Datagram message, uint32_t interval, uint32_t retries, uint32_t now);
    // Handles one received datagram. True for an acknowledgement, which
    // the worker takes along without counting it as its cycle's datagram.
    // A datagram that cannot be kept (no room, the peer table or the
    // reassembly bytes full) is refused before anything else: it is neither
    // acknowledged nor remembered, so a reliable peer sends it again later.
    bool Receive(Datagram datagram, uint32_t now);
    // Resends what is due, gives up expired reassemblies, forgets idle peers.
    void Service(uint32_t now);

private:
    PeerState& PeerOf(const sockaddr_in& address);
    void Transmit(Datagram datagram, uint32_t sequence, uint32_t interval, uint32_t retries,
                  uint32_t now);
    void ResendDue(PeerState& peer, uint32_t now);
    void Acknowledged(PeerState& peer, uint32_t sequence);
    void Acknowledge(const sockaddr_in& to, uint32_t sequence);

    // Fragmentation and reassembly (fragmentation.cpp).
    void DispatchFragmented(const Datagram& message, uint32_t interval, uint32_t retries,
                            uint32_t now);
    // False only when the fragment would open a reassembly beyond the cap.
    bool Reassemble(PeerState& peer, const DatagramHeader& header, const Datagram& fragment,
                    uint32_t now);
    bool OpenReassembly(PeerState& peer, const DatagramHeader& header, const Datagram& fragment,
                        uint32_t now);
    void ExpireReassemblies(PeerState& peer, uint32_t now);

    TransmitFn transmit_;
    DeliverFn deliver_;
    RoomFn room_;
    std::atomic<uint32_t>& sequence_;
    std::map<uint64_t, PeerState> peers_;  // by address and port
    uint32_t reassemblyBytes_ = 0;         // held by open reassemblies
};
