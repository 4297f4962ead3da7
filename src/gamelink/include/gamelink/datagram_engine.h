// Reliable messages over one UDP socket: the shell around EngineCore. Four
// threads: receive (socket to queue), worker (runs the core), send (queue
// to socket) and delivery (queue to callback).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "gamelink/datagram_record.h"
#include "gamelink/engine_core.h"
#include "gamelink/event_queue.h"
#include "gamelink/received_queue.h"
#include "platform/socket.h"
#include "platform/sync.h"

// Receives one complete message: the sender, the payload and its length.
// The bytes are valid only during the call.
using DeliveryCallback =
    std::function<void(sockaddr_in from, const uint8_t* bytes, int32_t length)>;
// Asked on the worker before a received message is taken: false while the
// receiver of the delivery callback cannot take more. The engine then
// refuses new datagrams unacknowledged; reliable senders send them again.
using RoomCallback = std::function<bool()>;

class DatagramEngine {
public:
    // How long a stop waits for each thread before giving up on it.
    static constexpr uint32_t kStopWaitMs = 5000;
    // While this many received messages wait for the delivery thread (1 MiB
    // at most), or this many datagrams for the send thread (an
    // acknowledgement would queue behind them), no new datagram is taken.
    static constexpr size_t kMaxUndelivered = 16;
    static constexpr size_t kMaxUnsent = 1024;

    DatagramEngine();
    // The orderly stop: wakes and ends the threads, closes the socket.
    ~DatagramEngine();
    DatagramEngine(const DatagramEngine&) = delete;
    DatagramEngine& operator=(const DatagramEngine&) = delete;

    // Opens and binds the socket (port 0: the system chooses; no address:
    // any interface) and starts the four threads. 1 started, 0 failed.
    int Start(DeliveryCallback callback, uint16_t localPort, const char* localAddressText,
              RoomCallback room = nullptr);
    // Queues one message; the bytes are copied. retries 0: unreliable.
    // Refused (0) when the payload is negative, missing or over 65,523 bytes.
    int QueueMessage(sockaddr_in peer, const uint8_t* payload, int32_t length, uint32_t interval,
                     uint32_t retries);

    const sockaddr_in& LocalAddress() const { return localAddress_; }

private:
    struct QueuedMessage {
        Datagram message;
        uint32_t interval;
        uint32_t retries;
    };

    static uint32_t ReceiveThread(void* self);
    static uint32_t WorkerThread(void* self);
    static uint32_t SendThread(void* self);
    static uint32_t DeliveryThread(void* self);
    bool Open(uint16_t localPort, const char* localAddressText);
    void ReceiveOne();
    void WorkerCycle();
    bool HasRoom();
    void Stop();

    platform::SocketHandle socket_ = platform::kNoSocket;
    sockaddr_in localAddress_{};
    DeliveryCallback callback_;
    RoomCallback receiverRoom_;
    std::atomic<bool> running_{true};
    EventQueue<QueuedMessage> outgoing_;
    ReceivedQueue received_;
    EventQueue<std::shared_ptr<const DatagramRecord>> toSend_;
    EventQueue<Datagram> toDeliver_;
    EngineCore core_;  // the worker's alone
    platform::Thread receiveThread_, sendThread_, workerThread_, deliveryThread_;
};
