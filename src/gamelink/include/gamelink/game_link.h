// The driver's door to the game server: every packet it sends becomes a
// reliable message (1000 ms apart, at most 6 transmissions) and every
// message the server sends comes back as a deciphered packet in a queue.
// Used from the driver's thread; the delivery thread only appends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "gamelink/datagram_engine.h"
#include "packet/kvn_packet.h"
#include "platform/socket.h"
#include "platform/sync.h"

class GameLink {
public:
    static constexpr uint32_t kResendIntervalMs = 1000;
    static constexpr uint32_t kResendRetries = 5;
    // Received packets nobody took yet may hold this many bytes (each
    // counted with kEntryBytes more for its keeping). Beyond it the link
    // takes no new message: after discovery nobody reads the queue.
    static constexpr size_t kMaxQueuedBytes = 256 * 1024;
    static constexpr size_t kEntryBytes = 64;

    GameLink() = default;
    // Stops a link still open and releases the packets nobody took: at
    // exit nothing can take them any more.
    ~GameLink();
    GameLink(const GameLink&) = delete;
    GameLink& operator=(const GameLink&) = delete;

    // A host name or a dotted IPv4 address (the link keeps its own copy).
    void SetHost(const char* host);
    void SetPort(uint16_t port);
    // Opens the link: 1 ready, 0 failed (no socket, or a name that does not
    // resolve). Call Shutdown before the next Init. The engine delivers to
    // this link's OnDatagram and takes no new message while the received
    // queue is full (HasRoom).
    int Init();
    // Enciphers the packet in place and queues its bytes; the caller still
    // owns (and destroys) the packet.
    void Send(KVNPacket* packet);
    // The oldest received packet, which the caller then owns; 0 when none
    // waits (the argument is left alone).
    int GetNextMessage(KVNPacket** packet);
    // Closes the link (the engine's threads end before it returns).
    void Shutdown();

    // The engine's delivery: wraps a copy of the payload in a new packet,
    // deciphers it and queues it. Payloads too short to hold the cipher
    // header and a packet id are dropped. It takes every packet: the engine
    // stops delivering once HasRoom says no, and what it still had on the
    // way is bounded by the engine.
    void OnDatagram(sockaddr_in from, const uint8_t* bytes, int32_t length);
    // False while the received queue holds kMaxQueuedBytes or more.
    bool HasRoom();

private:
    int ResolveServer();

    std::unique_ptr<DatagramEngine> engine_;
    sockaddr_in serverAddress_{};
    std::string hostName_;
    bool hostSet_ = false;
    uint16_t serverPort_ = 0;
    platform::CriticalSection messagesLock_;
    std::deque<KVNPacket*> messages_;
    size_t queuedBytes_ = 0;  // of the packets in messages, kEntryBytes each more
};
