#include "gamelink/datagram_engine.h"

#include <cstring>
#include <utility>

#include "platform/time.h"

namespace {
// The worker sleeps this long after every few cycles instead of spinning.
constexpr uint32_t kWorkerCyclesPerSleep = 5;
constexpr uint32_t kWorkerSleepMs = 5;
// The send and delivery threads wake at least this often to see a stop.
constexpr uint32_t kQueueWaitMs = 60000;
// A stop wakes the blocked receive with a datagram of its own; should that
// ever be lost, the receive still gives up this often.
constexpr uint32_t kReceivePollMs = 1000;
// At most this many acknowledgements are taken in one cycle besides the one
// datagram that carries a message.
constexpr uint32_t kAcknowledgementsPerCycle = 64;
}  // namespace

DatagramEngine::DatagramEngine()
    : core([this](std::shared_ptr<const DatagramRecord> r) { toSend.Append(std::move(r)); },
           [this](Datagram message) { toDeliver.Append(std::move(message)); },
           [this] { return HasRoom(); }) {}

DatagramEngine::~DatagramEngine() { Stop(); }

bool DatagramEngine::Open(uint16_t localPort, const char* localAddressText) {
    socket = platform::Socket(AF_INET, SOCK_DGRAM, 0);
    if (socket == platform::kNoSocket) return false;
    localAddress.sin_family = AF_INET;
    localAddress.sin_port = htons(localPort);
    localAddress.sin_addr.s_addr =
        localAddressText ? platform::InetAddr(localAddressText) : htonl(INADDR_ANY);
    if (localAddress.sin_addr.s_addr == INADDR_NONE || platform::Bind(socket, localAddress) != 0) {
        platform::CloseSocket(socket);
        socket = platform::kNoSocket;
        return false;
    }
    platform::GetSockName(socket, &localAddress);
    platform::SetReceiveTimeout(socket, kReceivePollMs);
    return true;
}

int DatagramEngine::Start(DeliveryCallback receiver, uint16_t localPort,
                          const char* localAddressText, RoomCallback room) {
    if (!Open(localPort, localAddressText)) return 0;
    callback = std::move(receiver);
    receiverRoom = std::move(room);
    if (receiveThread.Start(ReceiveThread, this) && sendThread.Start(SendThread, this) &&
        deliveryThread.Start(DeliveryThread, this) && workerThread.Start(WorkerThread, this))
        return 1;
    Stop();
    return 0;
}

void DatagramEngine::Stop() {
    running = false;
    if (socket == platform::kNoSocket) return;
    // A receive blocked on the socket returns only when a datagram comes:
    // send it one, to the engine's own port (over loopback when bound to
    // every interface). It is shorter than a header, so nobody takes it.
    sockaddr_in self = localAddress;
    if (self.sin_addr.s_addr == htonl(INADDR_ANY)) self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const uint8_t wake = 0;
    platform::SendTo(socket, &wake, 1, self);
    toSend.Signal();
    toDeliver.Signal();
    for (platform::Thread* thread : {&receiveThread, &sendThread, &deliveryThread, &workerThread})
        if (!thread->WaitFor(kStopWaitMs)) thread->Terminate(1);
    platform::CloseSocket(socket);
    socket = platform::kNoSocket;
}

int DatagramEngine::QueueMessage(sockaddr_in peer, const uint8_t* payload, int32_t length,
                                 uint32_t interval, uint32_t retries) {
    if (length < 0 || uint32_t(length) > kMaxMessagePayload || (length > 0 && !payload)) return 0;
    Datagram message{peer, std::vector<uint8_t>(kDatagramHeaderSize + size_t(length))};
    if (length > 0) std::memcpy(message.data.data() + kDatagramHeaderSize, payload, size_t(length));
    outgoing.Append({std::move(message), interval, retries});
    return 1;
}

uint32_t DatagramEngine::ReceiveThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->running) {
        try {
            engine->ReceiveOne();
        } catch (...) {
            // Out of memory for one datagram: it is lost, the link goes on.
        }
    }
    return 0;
}

void DatagramEngine::ReceiveOne() {
    uint8_t buffer[kMaxDatagramSize];
    sockaddr_in from{};
    int n = platform::RecvFrom(socket, buffer, sizeof buffer, &from);
    // Shorter than a header, or a failed receive (also one longer than the
    // buffer): dropped.
    if (!running || n < int(kDatagramHeaderSize)) return;
    received.Offer(from, buffer, size_t(n));
}

uint32_t DatagramEngine::WorkerThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    for (uint32_t cycles = 1; engine->running; ++cycles) {
        try {
            engine->WorkerCycle();
        } catch (...) {
            // Out of memory in one step: that message is lost, not the link.
        }
        if (cycles % kWorkerCyclesPerSleep == 0) platform::Sleep(kWorkerSleepMs);
    }
    return 0;
}

// Resends and expiries, at most one outgoing message, then at most one
// received message with the acknowledgements ahead of it.
void DatagramEngine::WorkerCycle() {
    uint32_t now = platform::TimeGetTime();
    core.Service(now);
    if (auto queued = outgoing.TakeFront())
        core.Dispatch(std::move(queued->message), queued->interval, queued->retries, now);
    // Acknowledgements do not count against the one datagram per cycle:
    // held back behind a busy peer's messages they would come later than
    // the resend interval, and the copies sent meanwhile could reach the
    // peer after its duplicate history has forgotten the original.
    for (uint32_t acks = 0; acks <= kAcknowledgementsPerCycle; ++acks) {
        auto datagram = received.TakeFront();
        if (!datagram || !core.Receive(std::move(*datagram), now)) return;
    }
}

// Room for a new received datagram: for the message it may complete, on
// the way to the receiver and at the receiver, and for its acknowledgement.
bool DatagramEngine::HasRoom() {
    return toDeliver.Size() < kMaxUndelivered && toSend.Size() < kMaxUnsent &&
           (!receiverRoom || receiverRoom());
}

uint32_t DatagramEngine::SendThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->running) {
        auto record = engine->toSend.TakeFront();
        if (!record) {
            engine->toSend.Wait(kQueueWaitMs);
            continue;
        }
        // Acknowledged while it waited here: there is nothing left to send.
        // A failed send is not retried: a reliable datagram goes out again
        // on its schedule, an unreliable one is lost.
        const Datagram& datagram = (*record)->datagram;
        if (!(*record)->acknowledged)
            platform::SendTo(engine->socket, datagram.data.data(), int(datagram.data.size()),
                             datagram.peerAddress);
    }
    return 0;
}

uint32_t DatagramEngine::DeliveryThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->running) {
        auto message = engine->toDeliver.TakeFront();
        if (!message) {
            engine->toDeliver.Wait(kQueueWaitMs);
            continue;
        }
        try {
            if (engine->callback)
                engine->callback(message->peerAddress, message->data.data() + kDatagramHeaderSize,
                                 int32_t(message->data.size() - kDatagramHeaderSize));
        } catch (...) {
            // A callback that throws loses its message, not the link.
        }
    }
    return 0;
}
