#include "gamelink/datagram_engine.h"

#include <cstring>
#include <memory>
#include <unordered_set>

#include "platform/time.h"

std::atomic<uint32_t> NextSequence{0};

namespace {
// The worker sleeps this long after every few cycles instead of spinning.
constexpr uint32_t kWorkerCyclesPerSleep = 5;
constexpr uint32_t kWorkerSleepMs = 5;
// The send and delivery threads wake at least this often to see a stop.
constexpr uint32_t kQueueWaitMs = 60000;
// A blocked receive gives up this often, so that a stop is seen even where
// closing or shutting down the socket does not wake the receive.
constexpr uint32_t kReceivePollMs = 250;
// At most this many acknowledgements are taken in one cycle besides the one
// datagram that carries a message.
constexpr uint32_t kAcknowledgementsPerCycle = 64;
}  // namespace

DatagramEngine::DatagramEngine() = default;

DatagramEngine::~DatagramEngine() {
    StopThreads();
    if (socket != platform::kNoSocket) platform::CloseSocket(socket);
    socket = platform::kNoSocket;
    // A thread that did not end may still hold records: leave them to it.
    if (!threadsStarted) ReleaseEverything();
}

int DatagramEngine::Open(uint16_t localPort, const char* localAddressText) {
    socket = platform::Socket(AF_INET, SOCK_DGRAM, 0);
    if (socket == platform::kNoSocket) return 0;
    std::memset(&localAddress, 0, sizeof localAddress);
    localAddress.sin_family = AF_INET;
    localAddress.sin_port = htons(localPort);
    localAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    if (localAddressText) localAddress.sin_addr.s_addr = platform::InetAddr(localAddressText);
    if (localAddress.sin_addr.s_addr == INADDR_NONE || platform::Bind(socket, localAddress) != 0) {
        platform::CloseSocket(socket);
        socket = platform::kNoSocket;
        return 0;
    }
    platform::GetSockName(socket, &localAddress);
    platform::SetReceiveTimeout(socket, kReceivePollMs);
    return 1;
}

int DatagramEngine::Start(DeliveryCallback receiver, uint16_t localPort,
                          const char* localAddressText) {
    if (!Open(localPort, localAddressText)) return 0;
    callback = receiver;
    if (StartThreads()) return 1;
    StopThreads();
    platform::CloseSocket(socket);
    socket = platform::kNoSocket;
    return 0;
}

bool DatagramEngine::StartThreads() {
    threadsStarted = true;
    return receiveThread.Start(ReceiveThread, this) && sendThread.Start(SendThread, this) &&
           deliveryThread.Start(DeliveryThread, this) && workerThread.Start(WorkerThread, this);
}

void DatagramEngine::StopThreads() {
    receiveRunning = sendRunning = deliveryRunning = workerRunning = 0;
    if (!threadsStarted) return;
    // Wakes a receive blocked on the socket where the system allows it.
    if (socket != platform::kNoSocket) platform::Shutdown(socket, 2);
    toSend.Signal();
    toDeliver.Signal();
    bool allEnded = true;
    for (platform::Thread* thread : {&receiveThread, &sendThread, &deliveryThread, &workerThread}) {
        if (thread->WaitFor(kStopWaitMs)) continue;
        thread->Terminate(1);
        allEnded = false;
    }
    threadsStarted = !allEnded;
}

void DatagramEngine::ReleaseEverything() {
    // A reliable record may stand in its peer's list and in the send queue
    // at once: gather every record once, then release each.
    std::unordered_set<DatagramRecord*> records;
    peers.ResetToHead();
    while (peers.Advance()) {
        PeerState* peer = peers.Current();
        for (CursorList<DatagramRecord>* list : {&peer->awaitingAck, &peer->reassembly}) {
            list->ResetToHead();
            while (list->Advance()) records.insert(list->Current());
        }
        peers.RemoveCurrent();
        delete peer;
    }
    for (EventQueue* queue : {&outgoing, &received, &toSend, &toDeliver})
        for (DatagramRecord* record : queue->TakeAll()) records.insert(record);
    for (DatagramRecord* record : records) delete record;
}

int DatagramEngine::QueueMessage(sockaddr_in peer, const uint8_t* payload, int32_t length,
                                 uint32_t interval, uint32_t retries) {
    if (length < 0 || uint32_t(length) > kMaxMessagePayload || (length > 0 && !payload)) return 0;
    DatagramRecord* record = DatagramRecord::WithData(uint32_t(length) + kDatagramHeaderSize);
    if (length > 0) std::memcpy(record->Data() + kDatagramHeaderSize, payload, size_t(length));
    record->interval = interval;
    record->retriesLeft = retries;
    record->peerAddress = peer;
    // The worker polls this queue every cycle: no signal needed.
    outgoing.AppendQuietly(record);
    return 1;
}

// --- Receive thread ---

uint32_t DatagramEngine::ReceiveThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->receiveRunning) {
        try {
            engine->ReceiveOnce();
        } catch (...) {
            // Out of memory for one datagram: it is lost, the link goes on.
        }
    }
    return 0;
}

bool DatagramEngine::ReceiveOnce() {
    uint8_t buffer[kMaxDatagramSize];
    sockaddr_in from{};
    int n = platform::RecvFrom(socket, buffer, sizeof buffer, &from);
    if (!receiveRunning || n < 0) return false;
    return AcceptDatagram(from, buffer, n);
}

bool DatagramEngine::AcceptDatagram(const sockaddr_in& from, const uint8_t* bytes, int32_t n) {
    if (n < int32_t(kDatagramHeaderSize) || n > int32_t(kMaxDatagramSize)) return false;
    DatagramRecord* record = DatagramRecord::WithData(uint32_t(n));
    std::memcpy(record->Data(), bytes, size_t(n));
    record->peerAddress = from;
    received.Append(record);
    return true;
}

// --- Worker thread ---

uint32_t DatagramEngine::WorkerThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    uint32_t cycles = 0;
    while (engine->workerRunning) {
        try {
            engine->ServiceOutgoing();
            engine->ServiceIncoming();
        } catch (...) {
            // Out of memory in one step: that message is lost, not the link.
        }
        if (++cycles == kWorkerCyclesPerSleep) {
            cycles = 0;
            platform::Sleep(kWorkerSleepMs);
        }
    }
    return 0;
}

PeerState* DatagramEngine::FindPeer(const sockaddr_in& address) {
    peers.ResetToHead();
    while (peers.Advance())
        if (peers.Current()->Matches(address)) return peers.Current();
    return nullptr;
}

PeerState* DatagramEngine::FindOrAddPeer(const sockaddr_in& address) {
    if (PeerState* known = FindPeer(address)) return known;
    auto* peer = new PeerState(address);
    peers.Append(peer);
    return peer;
}

void DatagramEngine::ServiceOutgoing() {
    ScanPeers(platform::TimeGetTime());
    if (DatagramRecord* record = outgoing.TakeFront()) {
        if (record->length > kMaxDatagramSize)
            DispatchFragmented(record);
        else
            DispatchSingle(record);
    }
}

void DatagramEngine::ScanPeers(uint32_t now) {
    peers.ResetToHead();
    while (peers.Advance()) {
        PeerState* peer = peers.Current();
        ResendDue(*peer, now);
        ExpireReassemblies(*peer, now);
        if (!peer->IsIdle(now)) continue;
        peers.RemoveCurrent();
        delete peer;
    }
}

void DatagramEngine::ResendDue(PeerState& peer, uint32_t now) {
    peer.awaitingAck.ResetToHead();
    while (peer.awaitingAck.Advance()) {
        DatagramRecord* record = peer.awaitingAck.Current();
        bool last;
        {
            platform::CriticalSectionGuard hold(record->lock);
            if (!DueTimeReached(now, record->dueTime)) continue;
            record->dueTime = kNotScheduled;
            if (record->retriesLeft > 0) --record->retriesLeft;
            last = record->retriesLeft == 0;
            // Counted before the lock goes, so that the send thread cannot
            // release the record between here and the append below.
            ++record->pendingSends;
        }
        // Its last transmission: from now on the send thread releases it.
        if (last) peer.awaitingAck.RemoveCurrent();
        toSend.Append(record);
    }
}

void DatagramEngine::DispatchSingle(DatagramRecord* record) {
    bool reliable = record->retriesLeft > 0;
    DatagramHeader header;
    header.flags = reliable ? RELIABLE_FLAG : 0;
    header.totalLength = uint16_t(record->length);
    header.sequence = NextSequence.fetch_add(1);
    header.Encode(record->Data());
    if (reliable) FindOrAddPeer(record->peerAddress)->awaitingAck.Append(record);
    QueueForSending(record);
}

void DatagramEngine::QueueForSending(DatagramRecord* record) {
    {
        platform::CriticalSectionGuard hold(record->lock);
        ++record->pendingSends;
    }
    toSend.Append(record);
}

void DatagramEngine::ServiceIncoming() {
    // Acknowledgements do not count against the one datagram per cycle:
    // held back behind a busy peer's messages they would come later than
    // the resend interval, and the copies sent meanwhile could reach the
    // peer after its duplicate history has forgotten the original.
    for (uint32_t acks = 0; acks <= kAcknowledgementsPerCycle; ++acks) {
        DatagramRecord* record = received.TakeFront();
        if (!record) return;
        PeerState* peer = FindOrAddPeer(record->peerAddress);
        if (record->Header().flags & ACK_FLAG) {
            HandleAcknowledgement(*peer, record);
            continue;
        }
        HandleMessage(*peer, record);
        return;
    }
}

void DatagramEngine::HandleMessage(PeerState& peer, DatagramRecord* record) {
    DatagramHeader header = record->Header();
    // Before the duplicate test: a copy means our acknowledgement was lost.
    if (header.flags & RELIABLE_FLAG) Acknowledge(record->peerAddress, header.sequence);
    if (peer.HasSeen(header.sequence)) {
        delete record;
        return;
    }
    peer.RememberSeen(header.sequence, DueTimeAfter(platform::TimeGetTime(), kHistoryExpiryMs));
    if (header.flags & FRAGMENT_FLAG)
        Reassemble(peer, record);
    else
        Deliver(record);
}

void DatagramEngine::HandleAcknowledgement(PeerState& peer, DatagramRecord* ack) {
    uint32_t sequence = ack->Header().sequence;
    delete ack;
    peer.awaitingAck.ResetToHead();
    while (peer.awaitingAck.Advance()) {
        DatagramRecord* record = peer.awaitingAck.Current();
        if (record->Header().sequence != sequence) continue;
        peer.awaitingAck.RemoveCurrent();
        {
            // One step under the lock: the send thread must never see the
            // flag without the entry that is about to be queued.
            platform::CriticalSectionGuard hold(record->lock);
            record->acknowledged = 1;
            ++record->pendingSends;
        }
        // The send thread does not transmit it; it only releases it.
        toSend.Append(record);
        return;
    }
}

void DatagramEngine::Acknowledge(const sockaddr_in& to, uint32_t sequence) {
    DatagramRecord* ack = DatagramRecord::WithData(kDatagramHeaderSize);
    DatagramHeader header;
    header.flags = ACK_FLAG;
    header.sequence = sequence;
    header.Encode(ack->Data());
    ack->peerAddress = to;
    QueueForSending(ack);
}

void DatagramEngine::Deliver(DatagramRecord* record) { toDeliver.Append(record); }

// --- Send thread ---

uint32_t DatagramEngine::SendThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->sendRunning)
        if (!engine->SendNext()) engine->toSend.Wait(kQueueWaitMs);
    return 0;
}

bool DatagramEngine::SendNext() {
    DatagramRecord* record = toSend.TakeFront();
    if (!record) return false;
    bool transmit;
    {
        platform::CriticalSectionGuard hold(record->lock);
        transmit = !record->acknowledged && record->pendingSends != 0;
    }
    if (transmit) Transmit(record);
    bool release;
    {
        platform::CriticalSectionGuard hold(record->lock);
        --record->pendingSends;
        release = (record->retriesLeft == 0 || record->acknowledged) && record->pendingSends == 0;
        // The resend clock starts when the datagram actually left.
        if (!release) record->dueTime = DueTimeAfter(platform::TimeGetTime(), record->interval);
    }
    if (release) delete record;
    return true;
}

void DatagramEngine::Transmit(DatagramRecord* record) {
    // A failed send is not retried here: a reliable record goes out again
    // on its schedule, an unreliable one is lost.
    if (socket != platform::kNoSocket)
        platform::SendTo(socket, record->Data(), int(record->length), record->peerAddress);
}

// --- Delivery thread ---

uint32_t DatagramEngine::DeliveryThread(void* self) {
    auto* engine = static_cast<DatagramEngine*>(self);
    while (engine->deliveryRunning) {
        try {
            if (!engine->DeliverNext()) engine->toDeliver.Wait(kQueueWaitMs);
        } catch (...) {
            // A callback that throws loses its message, not the link.
        }
    }
    return 0;
}

bool DatagramEngine::DeliverNext() {
    std::unique_ptr<DatagramRecord> record(toDeliver.TakeFront());
    if (!record) return false;
    if (callback)
        callback(record->peerAddress, record->Data() + kDatagramHeaderSize,
                 int32_t(record->length - kDatagramHeaderSize));
    return true;
}
