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
    : core_([this](std::shared_ptr<const DatagramRecord> r) { toSend_.Append(std::move(r)); },
            [this](Datagram message) { toDeliver_.Append(std::move(message)); },
            [this] { return HasRoom(); }) {}

DatagramEngine::~DatagramEngine() { Stop(); }

bool DatagramEngine::Open(uint16_t localPort, const char* localAddressText) {
    socket_ = platform::Socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_ == platform::kNoSocket) return false;
    localAddress_.sin_family = AF_INET;
    localAddress_.sin_port = htons(localPort);
    localAddress_.sin_addr.s_addr =
        localAddressText ? platform::InetAddr(localAddressText) : htonl(INADDR_ANY);
    if (localAddress_.sin_addr.s_addr == INADDR_NONE ||
        platform::Bind(socket_, localAddress_) != 0) {
        platform::CloseSocket(socket_);
        socket_ = platform::kNoSocket;
        return false;
    }
    platform::GetSockName(socket_, &localAddress_);
    platform::SetReceiveTimeout(socket_, kReceivePollMs);
    return true;
}

int DatagramEngine::Start(DeliveryCallback receiver, uint16_t localPort,
                          const char* localAddressText, RoomCallback room) {
    if (!Open(localPort, localAddressText)) return 0;
    callback_ = std::move(receiver);
    receiverRoom_ = std::move(room);
    if (receiveThread_.Start(ReceiveThread, this) && sendThread_.Start(SendThread, this) &&
        deliveryThread_.Start(DeliveryThread, this) && workerThread_.Start(WorkerThread, this))
        return 1;
    Stop();
    return 0;
}

void DatagramEngine::Stop() {
    running_ = false;
    if (socket_ == platform::kNoSocket) return;
    // A receive blocked on the socket returns only when a datagram comes:
    // send it one, to the engine's own port (over loopback when bound to
    // every interface). It is shorter than a header, so nobody takes it.
    sockaddr_in self = localAddress_;
    if (self.sin_addr.s_addr == htonl(INADDR_ANY)) self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const uint8_t wake = 0;
    platform::SendTo(socket_, &wake, 1, self);
    toSend_.Signal();
    toDeliver_.Signal();
    for (platform::Thread* thread :
         {&receiveThread_, &sendThread_, &deliveryThread_, &workerThread_})
        if (!thread->WaitFor(kStopWaitMs)) thread->Terminate(1);
    platform::CloseSocket(socket_);
    socket_ = platform::kNoSocket;
}

int DatagramEngine::QueueMessage(sockaddr_in peer, const uint8_t* payload, int32_t length,
                                 uint32_t interval, uint32_t retries) {
    if (length < 0 || uint32_t(length) > kMaxMessagePayload || (length > 0 && !payload)) return 0;
    Datagram message{peer, std::vector<uint8_t>(kDatagramHeaderSize + size_t(length))};
    if (length > 0) std::memcpy(message.data.data() + kDatagramHeaderSize, payload, size_t(length));
    outgoing_.Append({std::move(message), interval, retries});
    return 1;
}

uint32_t DatagramEngine::ReceiveThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->running_) {
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
    int n = platform::RecvFrom(socket_, buffer, sizeof buffer, &from);
    // Shorter than a header, or a failed receive (also one longer than the
    // buffer): dropped.
    if (!running_ || n < int(kDatagramHeaderSize)) return;
    received_.Offer(from, buffer, size_t(n));
}

uint32_t DatagramEngine::WorkerThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    for (uint32_t cycles = 1; engine->running_; ++cycles) {
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
    core_.Service(now);
    if (auto queued = outgoing_.TakeFront())
        core_.Dispatch(std::move(queued->message), queued->interval, queued->retries, now);
    // Acknowledgements do not count against the one datagram per cycle:
    // held back behind a busy peer's messages they would come later than
    // the resend interval, and the copies sent meanwhile could reach the
    // peer after its duplicate history has forgotten the original.
    for (uint32_t acks = 0; acks <= kAcknowledgementsPerCycle; ++acks) {
        auto datagram = received_.TakeFront();
        if (!datagram || !core_.Receive(std::move(*datagram), now)) return;
    }
}

// Room for a new received datagram: for the message it may complete, on
// the way to the receiver and at the receiver, and for its acknowledgement.
bool DatagramEngine::HasRoom() {
    return toDeliver_.Size() < kMaxUndelivered && toSend_.Size() < kMaxUnsent &&
           (!receiverRoom_ || receiverRoom_());
}

uint32_t DatagramEngine::SendThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->running_) {
        auto record = engine->toSend_.TakeFront();
        if (!record) {
            engine->toSend_.Wait(kQueueWaitMs);
            continue;
        }
        // Acknowledged while it waited here: there is nothing left to send.
        // A failed send is not retried: a reliable datagram goes out again
        // on its schedule, an unreliable one is lost.
        const Datagram& datagram = (*record)->datagram;
        if (!(*record)->acknowledged)
            platform::SendTo(engine->socket_, datagram.data.data(), int(datagram.data.size()),
                             datagram.peerAddress);
    }
    return 0;
}

uint32_t DatagramEngine::DeliveryThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->running_) {
        auto message = engine->toDeliver_.TakeFront();
        if (!message) {
            engine->toDeliver_.Wait(kQueueWaitMs);
            continue;
        }
        try {
            if (engine->callback_)
                engine->callback_(message->peerAddress, message->data.data() + kDatagramHeaderSize,
                                  int32_t(message->data.size() - kDatagramHeaderSize));
        } catch (...) {
            // A callback that throws loses its message, not the link.
        }
    }
    return 0;
}
