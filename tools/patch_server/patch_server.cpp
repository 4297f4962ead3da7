#include "patch_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> g_stop{false};
constexpr size_t kSendfileChunk = 256 * 1024;

void PutU16(std::string& out, uint16_t v) {
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}

void PutU32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char(v >> shift));
}

std::string Describe(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

PatchServer::PatchServer(const ServerOptions& options, const Catalogue& catalogue)
    : options_(options), catalogue_(catalogue) {}

PatchServer::~PatchServer() {
    for (auto& entry : clients_) ::close(entry.first);
    if (listener_ >= 0) ::close(listener_);
    if (epoll_ >= 0) ::close(epoll_);
}

void PatchServer::Stop() { g_stop = true; }

bool PatchServer::Listen(std::string* error) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        *error = "not an IPv4 address: " + options_.bindAddress;
        return false;
    }
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1024) != 0) {
        *error = std::string("cannot listen: ") + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);
    return true;
}

void PatchServer::Run() {
    std::vector<epoll_event> events(256);
    while (!g_stop) {
        int n = ::epoll_wait(epoll_, events.data(), int(events.size()), 1000);
        for (int i = 0; i < n; ++i) {
            int fd = events[size_t(i)].data.fd;
            if (fd == listener_) {
                Accept();
                continue;
            }
            auto found = clients_.find(fd);
            if (found == clients_.end()) continue;
            Client& client = *found->second;
            client.lastActive = ::time(nullptr);
            if (events[size_t(i)].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) OnReadable(client);
            // OnReadable may have dropped the client.
            found = clients_.find(fd);
            if (found != clients_.end() && (events[size_t(i)].events & EPOLLOUT))
                Flush(*found->second);
        }
        DropIdle();
    }
}

void PatchServer::Accept() {
    for (;;) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->peer = Describe(address);
        client->address = address.sin_addr.s_addr;
        client->lastActive = ::time(nullptr);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
        Client& added = *client;
        clients_[fd] = std::move(client);
        // A full server refuses in place of the greeting; so does one that
        // already serves as many clients from this address as it will.
        auto placed = servedPerAddress_.find(added.address);
        size_t fromAddress = placed == servedPerAddress_.end() ? 0 : placed->second;
        if (served_ >= options_.maxClients) {
            Refuse(added, 2, "refused: server full");
            continue;
        }
        if (options_.maxPerAddress != 0 && fromAddress >= options_.maxPerAddress) {
            Refuse(added, 2, "refused: already " + std::to_string(fromAddress) + " from there");
            continue;
        }
        ++served_;
        ++servedPerAddress_[added.address];
        added.counted = true;
        added.out.push_back('\x01');  // the greeting; its value means nothing
        Flush(added);
    }
}

void PatchServer::OnReadable(Client& client) {
    uint8_t chunk[512];
    ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        Drop(client.fd);
        return;
    }
    if (n < 0) return;
    const int fd = client.fd;
    for (ssize_t i = 0; i < n; ++i) {
        // Only the version request and the resume offset are expected;
        // anything else (the client's empty sends put nothing on the wire)
        // is ignored.
        if (client.state != State::kAwaitVersion && client.state != State::kAwaitOffset) continue;
        client.in[client.inLength++] = chunk[i];
        if (client.inLength == 4) {
            client.inLength = 0;
            uint32_t value = (uint32_t(client.in[0]) << 24) | (uint32_t(client.in[1]) << 16) |
                             (uint32_t(client.in[2]) << 8) | client.in[3];
            OnFourBytes(client, value);
            if (!clients_.count(fd)) return;  // dropped while answering
        }
    }
    Flush(client);
}

void PatchServer::OnFourBytes(Client& client, uint32_t value) {
    if (client.state == State::kAwaitVersion) {
        client.version = value;
        client.step = catalogue_.Find(value);
        if (!client.step) {
            Refuse(client, 1, "version " + std::to_string(value) + ": refused: no patch");
            return;
        }
        PutU32(client.out, client.step->to);
        PutU32(client.out, client.step->size);
        PutU16(client.out, uint16_t(client.step->name.size()));
        client.out += client.step->name;
        client.state = State::kAwaitOffset;
        return;
    }
    // An offset past the end sends nothing: the file is complete there.
    client.startOffset = value < client.step->size ? value : client.step->size;
    client.fileAt = client.startOffset;
    client.state = State::kStreaming;
}

void PatchServer::Refuse(Client& client, uint8_t reason, const std::string& why) {
    PutU32(client.out, 0);
    client.out.push_back(char(reason));
    PutU16(client.out, uint16_t(options_.alternatives.size()));
    for (const auto& alternative : options_.alternatives) {
        PutU16(client.out, alternative.first);
        PutU16(client.out, uint16_t(alternative.second.size()));
        client.out += alternative.second;
    }
    client.outcome = why;
    client.state = State::kDraining;
    Flush(client);
}

void PatchServer::Flush(Client& client) {
    while (client.outAt < client.out.size()) {
        ssize_t n = ::send(client.fd, client.out.data() + client.outAt,
                           client.out.size() - client.outAt, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN) return WatchWrites(client, true);
            return Drop(client.fd);
        }
        client.outAt += size_t(n);
    }
    client.out.clear();
    client.outAt = 0;
    while (client.state == State::kStreaming && client.fileAt < client.step->size) {
        off_t at = off_t(client.fileAt);
        size_t want = std::min<uint64_t>(kSendfileChunk, client.step->size - client.fileAt);
        ssize_t n = ::sendfile(client.fd, client.step->fd, &at, want);
        if (n < 0) {
            if (errno == EAGAIN) return WatchWrites(client, true);
            return Drop(client.fd);
        }
        if (n == 0) return Drop(client.fd);  // the file shrank under us
        client.fileAt += uint64_t(n);
    }
    if (client.state == State::kStreaming) Finish(client);
    WatchWrites(client, false);
}

void PatchServer::Finish(Client& client) {
    // Everything is sent; the client closes once it holds the whole file.
    client.outcome = "version " + std::to_string(client.version) + ": " + client.step->name +
                     " from " + std::to_string(client.startOffset) + ", " +
                     std::to_string(client.fileAt - client.startOffset) + " bytes sent";
    client.state = State::kDraining;
}

void PatchServer::WatchWrites(Client& client, bool on) {
    if (client.wantWrite == on) return;
    client.wantWrite = on;
    epoll_event event{};
    event.events = uint32_t(EPOLLIN) | (on ? uint32_t(EPOLLOUT) : 0u);
    event.data.fd = client.fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, client.fd, &event);
}

void PatchServer::Drop(int fd) {
    auto found = clients_.find(fd);
    if (found == clients_.end()) return;
    Client& client = *found->second;
    if (client.state == State::kStreaming)
        client.outcome = "version " + std::to_string(client.version) + ": " + client.step->name +
                         " from " + std::to_string(client.startOffset) + ", cut after " +
                         std::to_string(client.fileAt - client.startOffset) + " bytes";
    else if (client.state == State::kAwaitOffset)
        client.outcome = "version " + std::to_string(client.version) + ": " + client.step->name +
                         ", closed before the resume offset";
    std::printf("client %s %s\n", client.peer.c_str(), client.outcome.c_str());
    std::fflush(stdout);
    if (client.counted) {
        --served_;
        auto place = servedPerAddress_.find(client.address);
        if (--place->second == 0) servedPerAddress_.erase(place);
    }
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    clients_.erase(found);
}

void PatchServer::DropIdle() {
    time_t now = ::time(nullptr);
    std::vector<int> idle;
    for (auto& entry : clients_)
        if (now - entry.second->lastActive > options_.idleSeconds) idle.push_back(entry.first);
    for (int fd : idle) {
        clients_[fd]->outcome += " (idle, dropped)";
        Drop(fd);
    }
}
