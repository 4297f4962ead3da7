// Reliable messages over one UDP socket: acknowledgements, resends at a
// fixed interval, duplicate filtering by sequence number, fragmentation of
// long messages, and delivery of complete messages to a callback. Four
// threads: receive, send, worker (owns all protocol state) and delivery.
//
// Every step of the threads is also a public call, so that tests and the
// fuzzer can drive the engine one step at a time without threads (and with
// a replaced tick); the threads run exactly these steps.
#pragma once

#include <atomic>
#include <cstdint>

#include "gamelink/cursor_list.h"
#include "gamelink/datagram_record.h"
#include "gamelink/event_queue.h"
#include "gamelink/peer_state.h"
#include "platform/socket.h"
#include "platform/sync.h"

// Receives one complete message: the sender, the payload and its length.
// The bytes are valid only during the call.
using DeliveryCallback = void (*)(sockaddr_in from, const uint8_t* bytes, int32_t length);

// Sequence numbers of the process: one per message or fragment, across all
// peers and engines; acknowledgements do not take one.
extern std::atomic<uint32_t> NextSequence;

class DatagramEngine {
public:
    // How long a stop waits for each thread before giving up on it.
    static constexpr uint32_t kStopWaitMs = 5000;
    // Reassemblies are given up this long after they opened.
    static constexpr uint32_t kReassemblyExpiryMs = 10000;
    // Bytes that open reassemblies may hold together, over all peers: 64
    // messages of the largest size. Anyone can send first fragments of
    // large messages; beyond this their fragments are dropped until some
    // reassembly completes or expires.
    static constexpr uint32_t kMaxReassemblyBytes = 64 * (kMaxMessagePayload + kDatagramHeaderSize);
    // A sequence number is remembered this long after it arrived.
    static constexpr uint32_t kHistoryExpiryMs = 15000;

    DatagramEngine();
    // The orderly stop: ends the threads, closes the socket, releases every
    // record the engine still holds.
    ~DatagramEngine();
    DatagramEngine(const DatagramEngine&) = delete;
    DatagramEngine& operator=(const DatagramEngine&) = delete;

    // Opens and binds the socket (port 0: the system chooses; no address:
    // any interface) and starts the four threads. 1 started, 0 failed.
    int Start(DeliveryCallback callback, uint16_t localPort, const char* localAddressText);
    // Queues one message; the bytes are copied. retries 0: unreliable.
    // Refused (0) when the payload is negative, missing or over 65,523 bytes.
    int QueueMessage(sockaddr_in peer, const uint8_t* payload, int32_t length, uint32_t interval,
                     uint32_t retries);

    const sockaddr_in& LocalAddress() const { return localAddress; }

    // --- The steps, for driving the engine without its threads. ---
    // Opens and binds the socket without starting threads (Start's first
    // part). 1 opened, 0 failed.
    int Open(uint16_t localPort, const char* localAddressText);
    void SetCallback(DeliveryCallback receiver) { callback = receiver; }
    // One pass of the receive thread: waits for one datagram (at most the
    // socket's receive time-out). True when a datagram was accepted.
    bool ReceiveOnce();
    // What the receive thread does with n bytes from a sender: shorter
    // than a header they are dropped, otherwise queued for the worker.
    bool AcceptDatagram(const sockaddr_in& from, const uint8_t* bytes, int32_t n);
    // The worker's cycle: resends and expiries and at most one outgoing
    // message, then at most one received message (acknowledgements ahead of
    // it in the queue are taken along).
    void ServiceOutgoing();
    void ServiceIncoming();
    // One entry of the send queue transmitted (or skipped) and released
    // when done; false when the queue was empty.
    bool SendNext();
    // One complete message handed to the callback; false when none waits.
    bool DeliverNext();
    // Worker state; read only while the worker thread is not running.
    size_t PeerCount() const { return peers.Count(); }
    PeerState* FindPeer(const sockaddr_in& address);

private:
    static uint32_t ReceiveThread(void* self);
    static uint32_t SendThread(void* self);
    static uint32_t WorkerThread(void* self);
    static uint32_t DeliveryThread(void* self);
    bool StartThreads();
    void StopThreads();
    void ReleaseEverything();

    PeerState* FindOrAddPeer(const sockaddr_in& address);
    void ScanPeers(uint32_t now);
    void ResendDue(PeerState& peer, uint32_t now);
    void DispatchOne(DatagramRecord* record);
    void DispatchSingle(DatagramRecord* record);
    void HandleAcknowledgement(PeerState& peer, DatagramRecord* ack);
    void HandleMessage(PeerState& peer, DatagramRecord* record);
    void Acknowledge(const sockaddr_in& to, uint32_t sequence);
    // Counts one more send-queue entry under the record's lock, then
    // appends it to the send queue.
    void QueueForSending(DatagramRecord* record);
    void Transmit(DatagramRecord* record);

    // Fragmentation and reassembly (fragmentation.cpp).
    void DispatchFragmented(DatagramRecord* message);
    void Reassemble(PeerState& peer, DatagramRecord* fragment);
    void ExpireReassemblies(PeerState& peer, uint32_t now);
    void OpenReassembly(PeerState& peer, DatagramRecord* fragment, const DatagramHeader& header);
    void Deliver(DatagramRecord* record);

    platform::SocketHandle socket = platform::kNoSocket;
    sockaddr_in localAddress{};
    platform::Thread receiveThread, sendThread, workerThread, deliveryThread;
    EventQueue outgoing, received, toSend, toDeliver;
    CursorList<PeerState> peers;
    DeliveryCallback callback = nullptr;
    std::atomic<int32_t> deliveryRunning{1}, workerRunning{1}, receiveRunning{1}, sendRunning{1};
    bool threadsStarted = false;
    uint32_t reassemblyBytes = 0;  // held by open reassemblies (worker only)
};
