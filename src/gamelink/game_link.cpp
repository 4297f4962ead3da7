#include "gamelink/game_link.h"

#include <cctype>
#include <cstring>

#include "platform/debug.h"
#include "platform/time.h"

namespace {
constexpr uint16_t kWinsockVersion = 0x0101;
// The cipher header and a packet id: the least a packet can read.
constexpr int32_t kMinMessage = KVNPacket::kHeaderSize + 2;

// The payload received (cipher header and body), and the keeping.
size_t QueuedBytes(KVNPacket* packet) {
    return size_t(packet->GetLimit()) + KVNPacket::kHeaderSize + GameLink::kEntryBytes;
}
}  // namespace

GameLink::~GameLink() {
    engine_.reset();
    for (KVNPacket* packet : messages_) delete packet;
}

void GameLink::SetHost(const char* host) {
    hostName_ = host ? host : "";
    hostSet_ = host != nullptr;
}

void GameLink::SetPort(uint16_t port) { serverPort_ = port; }

int GameLink::Init() {
    engine_.reset(new DatagramEngine);
    platform::WSAStartup(kWinsockVersion);
    auto deliver = [this](sockaddr_in from, const uint8_t* bytes, int32_t length) {
        OnDatagram(from, bytes, length);
    };
    if (!engine_->Start(deliver, 0, nullptr, [this] { return HasRoom(); })) return 0;
    return ResolveServer();
}

int GameLink::ResolveServer() {
    std::memset(&serverAddress_, 0, sizeof serverAddress_);
    serverAddress_.sin_family = AF_INET;
    if (!hostSet_) return 0;
    // A leading digit means a dotted address, taken as converted (even when
    // it does not convert); names go to the name service.
    if (std::isdigit(static_cast<unsigned char>(hostName_[0]))) {
        serverAddress_.sin_addr.s_addr = platform::InetAddr(hostName_.c_str());
    } else {
        uint32_t address = 0;
        if (!platform::ResolveHostName(hostName_.c_str(), &address)) return 0;
        serverAddress_.sin_addr.s_addr = address;
    }
    serverAddress_.sin_port = htons(serverPort_);
    return 1;
}

void GameLink::Send(KVNPacket* packet) {
    packet->EncryptPacket(platform::SecondsSinceEpoch());
    unsigned char* bytes = nullptr;
    int length = 0;
    packet->GetBuffer(bytes, length);
    platform::OutputDebugStringA("Send Packet!\r\n");
    // After Shutdown there is no link to carry it: the packet is dropped.
    if (engine_)
        engine_->QueueMessage(serverAddress_, bytes, length, kResendIntervalMs, kResendRetries);
}

int GameLink::GetNextMessage(KVNPacket** packet) {
    platform::CriticalSectionGuard hold(messagesLock_);
    if (messages_.empty()) return 0;
    *packet = messages_.front();
    messages_.pop_front();
    queuedBytes_ -= QueuedBytes(*packet);
    return 1;
}

void GameLink::Shutdown() {
    engine_.reset();
    platform::WSACleanup();
}

bool GameLink::HasRoom() {
    platform::CriticalSectionGuard hold(messagesLock_);
    return queuedBytes_ < kMaxQueuedBytes;
}

void GameLink::OnDatagram(sockaddr_in, const uint8_t* bytes, int32_t length) {
    if (length < kMinMessage) return;
    auto* copy = new unsigned char[size_t(length)];
    std::memcpy(copy, bytes, size_t(length));
    auto* packet = new KVNPacket;
    packet->AdoptBuffer(copy, length);  // the packet releases the copy
    // A checksum mismatch is queued all the same: the driver's reader
    // decides what a damaged answer is worth.
    packet->DecryptPacket();
    platform::CriticalSectionGuard hold(messagesLock_);
    messages_.push_back(packet);
    queuedBytes_ += QueuedBytes(packet);
}
