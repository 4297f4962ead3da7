#include "patchlink/stream_connection.h"

#include <cstring>

#include "platform/debug.h"
#include "platform/time.h"

namespace {
constexpr uint16_t kWinsockVersion = 0x0101;
constexpr int kSendPauseMs = 10;
}  // namespace

StreamConnection::StreamConnection() = default;

StreamConnection::~StreamConnection() {
    if (started_) Close();
}

void StreamConnection::SetHost(const char* host) {
    std::strncpy(host_, host ? host : "", kHostSize - 1);
    host_[kHostSize - 1] = '\0';
}

void StreamConnection::SetPort(uint16_t port) { port_ = port; }
void StreamConnection::SetSocketType(uint32_t type) { socketType_ = type; }

void StreamConnection::SetWaitModes(bool waitOnSend, bool waitOnReceive) {
    waitOnSend_ = waitOnSend;
    waitOnReceive_ = waitOnReceive;
}

int StreamConnection::Connect() {
    started_ = true;
    if (platform::WSAStartup(kWinsockVersion) != 0) {
        platform::OutputDebugStringA("Error 3\r\n");
        return Fatal();
    }
    ++socketStarts_;
    // A socket left from an earlier attempt is released, not leaked.
    ReleaseSocket();
    socket_ = platform::Socket(AF_INET, int(socketType_), 0);
    if (!FillPeerAddress()) {
        platform::OutputDebugStringA("Error 4\r\n");
        return Fatal();
    }
    if (platform::Connect(socket_, peerAddress_) != 0) {
        ReleaseSocket();
        return 0;
    }
    platform::SetNonBlocking(socket_, (waitOnSend_ && waitOnReceive_) ? 0 : 1);
    return 1;
}

bool StreamConnection::FillPeerAddress() {
    std::memset(&peerAddress_, 0, sizeof peerAddress_);
    peerAddress_.sin_family = AF_INET;
    peerAddress_.sin_port = htons(port_);
    // A host text starting with a digit is always a dotted address; when it
    // is not a valid one the connect call fails.
    if (host_[0] >= '0' && host_[0] <= '9') {
        peerAddress_.sin_addr.s_addr = platform::InetAddr(host_);
        return true;
    }
    uint32_t address = 0;
    if (!platform::ResolveHostName(host_, &address)) return false;
    peerAddress_.sin_addr.s_addr = address;
    return true;
}

int StreamConnection::SendOnce(const uint8_t* data, int count) {
    for (;;) {
        int n = platform::Send(socket_, data, count);
        int error = platform::WSAGetLastError();
        if (n == -1 && error != platform::kWsaEwouldblock)
            platform::OutputDebugStringA("Error !!!!!!!!!!!!!!!!!!!!!!!!");
        platform::DebugPrintf("Byte send [%d] - [%d]\r\n", n, error);
        platform::OutputDebugStringA("Sending ");
        for (int i = 0; i < n; ++i) platform::DebugPrintf("[%d] ", int(int8_t(data[i])));
        if (n == -1 && error == platform::kWsaEwouldblock && waitOnSend_) continue;
        return n;
    }
}

void StreamConnection::Send(const void* data, int count) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    int sent = 0;
    // The first call always happens, also for no bytes; a short send is
    // continued with the rest so that no message is cut.
    do {
        int n = SendOnce(bytes + sent, count - sent);
        if (n <= 0) break;
        sent += n;
    } while (sent < count);
    platform::Sleep(kSendPauseMs);
    platform::OutputDebugStringA("Send Packet!\r\n");
}

int StreamConnection::Receive(void* buffer, int capacity) {
    for (;;) {
        int n = platform::Recv(socket_, buffer, capacity);
        if (n == -1) {
            int error = platform::WSAGetLastError();
            if (error != platform::kWsaEwouldblock) {
                platform::OutputDebugStringA("Error 1\r\n");
                return Fatal();
            }
            if (waitOnReceive_) continue;
            return 0;
        }
        if (n == 0) {
            platform::DebugPrintf("Error # [%d]\r\n", platform::WSAGetLastError());
            platform::OutputDebugStringA("Error 2\r\n");
            return Fatal();
        }
        return n;
    }
}

void StreamConnection::ReleaseSocket() {
    if (socket_ == platform::kNoSocket) return;
    platform::CloseSocket(socket_);
    socket_ = platform::kNoSocket;
}

void StreamConnection::Interrupt() {
    if (socket_ != platform::kNoSocket) platform::Shutdown(socket_, 2);
}

void StreamConnection::Close() {
    if (!started_) return;
    started_ = false;
    if (socket_ != platform::kNoSocket) {
        platform::Shutdown(socket_, 1);
        ReleaseSocket();
    }
    for (; socketStarts_ > 0; --socketStarts_) platform::WSACleanup();
}

int StreamConnection::Fatal() {
    platform::DebugPrintf("%d", platform::WSAGetLastError());
    return kFatal;
}
