#include "scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

Bytes U16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes U32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Header(uint32_t version, uint32_t size, const std::string& name) {
    return Cat({U32(version), U32(size), U16(uint16_t(name.size())), Text(name)});
}

Bytes Refusal(uint8_t reason, const std::vector<Alternative>& alternatives) {
    Bytes all = Cat({U32(0), Bytes{reason}, U16(uint16_t(alternatives.size()))});
    for (const Alternative& a : alternatives) {
        Bytes entry = Cat({U16(a.port), U16(uint16_t(a.host.size())), Text(a.host)});
        all.insert(all.end(), entry.begin(), entry.end());
    }
    return all;
}

void PeerSocket::Send(const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += size_t(n);
    }
}

Bytes PeerSocket::Read(size_t n, int timeoutMs) {
    Bytes got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count());
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
        uint8_t chunk[4096];
        ssize_t r = ::recv(fd_, chunk, std::min(sizeof chunk, n - got.size()), 0);
        if (r <= 0) break;
        got.insert(got.end(), chunk, chunk + r);
    }
    return got;
}

bool PeerSocket::Quiet(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 0;
}

void PeerSocket::WaitClosed() {
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        uint8_t chunk[256];
        if (::recv(fd_, chunk, sizeof chunk, 0) <= 0) return;
    }
}

void PeerSocket::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

ScriptedPeer::ScriptedPeer(std::function<void(PeerSocket&)> script) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script] {
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        PeerSocket peer(fd);
        script(peer);
        peer.Close();
    });
}

void ScriptedPeer::Join() {
    if (thread_.joinable()) thread_.join();
}

ScriptedPeer::~ScriptedPeer() {
    Join();
    ::close(listener_);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
