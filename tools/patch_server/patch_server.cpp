#include "patch_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "log_time.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_reload{false};
constexpr size_t kSendfileChunk = 256 * 1024;
// Out of descriptors, the listener rests this long at first, twice as long
// after each failure in a row, at most the maximum.
constexpr int64_t kFirstBackoffMs = 10;
constexpr int64_t kMaxBackoffMs = 1000;
// How often the manifest is looked at for a change.
constexpr int64_t kManifestCheckMs = 1000;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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

// The manifest as a load sees it: a rename, an edit or a removal changes it.
struct stat ManifestStamp(const std::string& dir) {
    struct stat info {};
    if (::stat((dir + "/manifest.txt").c_str(), &info) != 0) info = {};
    return info;
}

bool SameStamp(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_dev == b.st_dev && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

PatchServer::PatchServer(const ServerOptions& options, std::shared_ptr<const Catalogue> catalogue)
    : options_(options),
      maxConnections_(options.maxConnections ? options.maxConnections
                                             : options.maxClients + options.maxClients / 4 + 16),
      catalogue_(std::move(catalogue)),
      manifestSeen_(ManifestStamp(options.catalogueDir)),
      manifestCheckedMs_(NowMs()) {}

void PatchServer::Stop() { g_stop = true; }

void PatchServer::RequestReload() { g_reload = true; }

void PatchServer::Log(const std::string& line) {
    std::printf("%s %s\n", LogTime().c_str(), line.c_str());
    std::fflush(stdout);
}

bool PatchServer::Listen(std::string* error) {
    listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int one = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        *error = "not an IPv4 address: " + options_.bindAddress;
        return false;
    }
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.Get(), 1024) != 0) {
        *error = std::string("cannot listen: ") + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    epoll_.Reset(::epoll_create1(EPOLL_CLOEXEC));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_.Get();
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, listener_.Get(), &event);
    listening_ = true;
    return true;
}

void PatchServer::Run() {
    std::vector<epoll_event> events(256);
    while (!g_stop) {
        ReloadIfAsked();
        int timeout = 1000;
        if (!listening_ && backoffUntilMs_ > NowMs())
            timeout = int(std::min<int64_t>(timeout, backoffUntilMs_ - NowMs()));
        int n = ::epoll_wait(epoll_.Get(), events.data(), int(events.size()), timeout);
        for (int i = 0; i < n; ++i) {
            int fd = events[size_t(i)].data.fd;
            if (fd == listener_.Get()) {
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
        ResumeListener();
    }
}

void PatchServer::ReloadIfAsked() {
    bool asked = g_reload.exchange(false);
    int64_t now = NowMs();
    if (!asked && now - manifestCheckedMs_ < kManifestCheckMs) return;
    manifestCheckedMs_ = now;
    struct stat stamp = ManifestStamp(options_.catalogueDir);
    if (!asked && SameStamp(stamp, manifestSeen_)) return;
    manifestSeen_ = stamp;
    Reload();
}

void PatchServer::Reload() {
    auto next = std::make_shared<Catalogue>();
    std::string error;
    if (!next->Load(options_.catalogueDir, &error)) {
        Log("catalogue not reloaded, still serving the last one: " + error);
        return;
    }
    // Clients that took a step keep their own reference to the old one.
    catalogue_ = std::move(next);
    ++stats_.catalogueReloads;
    Log("catalogue reloaded: " + std::to_string(catalogue_->Size()) + " steps");
}

void PatchServer::WatchListener(bool on) {
    if (listening_ == on) return;
    listening_ = on;
    epoll_event event{};
    event.events = on ? uint32_t(EPOLLIN) : 0u;
    event.data.fd = listener_.Get();
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, listener_.Get(), &event);
}

void PatchServer::ResumeListener() {
    if (!listening_ && NowMs() >= backoffUntilMs_ && clients_.size() < maxConnections_)
        WatchListener(true);
}

// A level-triggered listener whose accept fails for want of descriptors
// would be reported ready at once, again and again: it rests instead, and
// the connections wait in the backlog until descriptors come free.
void PatchServer::BackOff() {
    const int err = errno;
    bool first = backoffMs_ == 0;
    backoffMs_ = first ? kFirstBackoffMs : std::min(backoffMs_ * 2, kMaxBackoffMs);
    backoffUntilMs_ = NowMs() + backoffMs_;
    ++stats_.acceptBackoffs;
    WatchListener(false);
    if (first)
        Log(std::string("cannot accept (") + std::strerror(err) +
            "): not accepting for a while, up to " + std::to_string(kMaxBackoffMs) +
            " ms at a time");
}

void PatchServer::Accept() {
    for (;;) {
        if (clients_.size() >= maxConnections_) {
            // Every connection holds a descriptor: beyond the cap new ones
            // wait in the backlog until one goes.
            WatchListener(false);
            return;
        }
        sockaddr_in address{};
        socklen_t length = sizeof address;
        int fd = ::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                return BackOff();
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // EAGAIN: nothing more waits
        }
        backoffMs_ = 0;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto client = std::make_unique<Client>();
        client->fd.Reset(fd);
        client->peer = Describe(address);
        client->address = address.sin_addr.s_addr;
        client->lastActive = ::time(nullptr);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, fd, &event);
        Client& added = *client;
        clients_[fd] = std::move(client);
        stats_.connectedNow = clients_.size();
        // A full server refuses in place of the greeting; so does one that
        // already serves as many clients from this address as it will.
        auto placed = servedPerAddress_.find(added.address);
        size_t fromAddress = placed == servedPerAddress_.end() ? 0 : placed->second;
        if (served_ >= options_.maxClients) {
            ++stats_.refusedFull;
            Refuse(added, 2, "refused: server full");
            continue;
        }
        if (options_.maxPerAddress != 0 && fromAddress >= options_.maxPerAddress) {
            ++stats_.refusedPerAddress;
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
    ssize_t n = ::recv(client.fd.Get(), chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        Drop(client.fd.Get());
        return;
    }
    if (n < 0) return;
    const int fd = client.fd.Get();
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
        client.catalogue = catalogue_;
        client.step = client.catalogue->Find(value);
        if (!client.step) {
            ++stats_.refusedNoPatch;
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
    ++(client.startOffset == 0 ? stats_.downloadsStarted : stats_.downloadsResumed);
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
    client.closeWhenSent = true;
    Flush(client);
}

void PatchServer::Flush(Client& client) {
    while (client.outAt < client.out.size()) {
        ssize_t n = ::send(client.fd.Get(), client.out.data() + client.outAt,
                           client.out.size() - client.outAt, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN) return WatchWrites(client, true);
            return Drop(client.fd.Get());
        }
        client.outAt += size_t(n);
    }
    client.out.clear();
    client.outAt = 0;
    if (client.closeWhenSent) {
        // What the client sent is read first, so the close ends the
        // connection in order (FIN) and the refusal arrives whole.
        char ignored[512];
        for (int reads = 0; reads < 16 && ::recv(client.fd.Get(), ignored, sizeof ignored, 0) > 0;
             ++reads) {
        }
        return Drop(client.fd.Get());
    }
    while (client.state == State::kStreaming && client.fileAt < client.step->size) {
        off_t at = off_t(client.fileAt);
        size_t want = std::min<uint64_t>(kSendfileChunk, client.step->size - client.fileAt);
        ssize_t n = ::sendfile(client.fd.Get(), client.step->file.Get(), &at, want);
        if (n < 0) {
            if (errno == EAGAIN) return WatchWrites(client, true);
            return Drop(client.fd.Get());
        }
        if (n == 0) return Drop(client.fd.Get());  // the file shrank under us
        client.fileAt += uint64_t(n);
        stats_.bytesSent += uint64_t(n);
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
    ++stats_.downloadsCompleted;
}

void PatchServer::WatchWrites(Client& client, bool on) {
    if (client.wantWrite == on) return;
    client.wantWrite = on;
    epoll_event event{};
    event.events = uint32_t(EPOLLIN) | (on ? uint32_t(EPOLLOUT) : 0u);
    event.data.fd = client.fd.Get();
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, client.fd.Get(), &event);
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
    Log("client " + client.peer + " " + client.outcome);
    if (client.counted) {
        --served_;
        auto place = servedPerAddress_.find(client.address);
        if (--place->second == 0) servedPerAddress_.erase(place);
    }
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, fd, nullptr);
    // Counted before the close: whoever sees the connection end sees it gone.
    stats_.connectedNow = clients_.size() - 1;
    clients_.erase(found);  // closes the descriptor
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
