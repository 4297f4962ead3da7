#include "raw_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

sockaddr_in Loopback(uint16_t networkPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = networkPort;
    return address;
}

RawPeer::RawPeer() : handle(::socket(AF_INET, SOCK_DGRAM, 0)) {
    if (handle < 0) throw std::runtime_error("no socket");
    address = Loopback(0);
    if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("no bind");
    socklen_t length = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
    int size = 1 << 20;
    ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

RawPeer::~RawPeer() { ::close(handle); }

void RawPeer::SendTo(const sockaddr_in& to, const Bytes& datagram) const {
    ::sendto(handle, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to);
}

bool RawPeer::Receive(Bytes* datagram, int timeoutMs, sockaddr_in* from) const {
    pollfd ready{handle, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0) return false;
    uint8_t buffer[70000];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t n =
        ::recvfrom(handle, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (n < 0) return false;
    datagram->assign(buffer, buffer + n);
    if (from) *from = sender;
    return true;
}

std::vector<Bytes> RawPeer::ReceiveAll(int quietMs) const {
    std::vector<Bytes> all;
    Bytes one;
    while (Receive(&one, quietMs)) all.push_back(one);
    return all;
}
