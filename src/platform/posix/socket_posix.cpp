#include "platform/socket.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

int WSAStartup(uint16_t) { return 0; }
int WSACleanup() { return 0; }

int WSAGetLastError() {
    switch (errno) {
        case 0:
            return 0;
        case EINTR:
            return kWsaEintr;
        case EBADF:
            return kWsaEbadf;
        case EINVAL:
            return kWsaEinval;
        case EAGAIN:
            return kWsaEwouldblock;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
            return kWsaEwouldblock;
#endif
        case EINPROGRESS:
            return kWsaEwouldblock;
        case ENOTSOCK:
            return kWsaEnotsock;
        case EMSGSIZE:
            return kWsaEmsgsize;
        case EADDRINUSE:
            return kWsaEaddrinuse;
        case ENETUNREACH:
            return kWsaEnetunreach;
        case ECONNABORTED:
            return kWsaEconnaborted;
        case ECONNRESET:
            return kWsaEconnreset;
        case EPIPE:
            return kWsaEconnreset;
        case ENOTCONN:
            return kWsaEnotconn;
        case ETIMEDOUT:
            return kWsaEtimedout;
        case ECONNREFUSED:
            return kWsaEconnrefused;
        case EHOSTUNREACH:
            return kWsaEhostunreach;
        default:
            return 10000 + errno;
    }
}

SocketHandle Socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }
int Bind(SocketHandle s, const sockaddr_in& a) {
    return ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}
int Connect(SocketHandle s, const sockaddr_in& a) {
    return ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}
int GetSockName(SocketHandle s, sockaddr_in* a) {
    socklen_t length = sizeof *a;
    return ::getsockname(s, reinterpret_cast<sockaddr*>(a), &length);
}
int Send(SocketHandle s, const void* data, int length) {
    return int(::send(s, data, size_t(length), MSG_NOSIGNAL));
}
int Recv(SocketHandle s, void* buffer, int capacity) {
    return int(::recv(s, buffer, size_t(capacity), 0));
}
int SendTo(SocketHandle s, const void* data, int length, const sockaddr_in& to) {
    return int(::sendto(s, data, size_t(length), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to));
}
int RecvFrom(SocketHandle s, void* buffer, int capacity, sockaddr_in* from) {
    socklen_t length = sizeof *from;
    // MSG_TRUNC reports a datagram longer than the buffer, which Winsock
    // treats as a failed receive (WSAEMSGSIZE); do the same.
    ssize_t n = ::recvfrom(s, buffer, size_t(capacity), MSG_TRUNC,
                           reinterpret_cast<sockaddr*>(from), &length);
    if (n > capacity) {
        errno = EMSGSIZE;
        return -1;
    }
    return int(n);
}
int Shutdown(SocketHandle s, int how) {
    return ::shutdown(s, how == 1 ? SHUT_WR : how == 0 ? SHUT_RD : SHUT_RDWR);
}
int CloseSocket(SocketHandle s) {
    // Closing a descriptor does not wake a thread blocked in recvfrom on
    // Linux, as closesocket does on Windows; shutting it down first does.
    ::shutdown(s, SHUT_RDWR);
    return ::close(s);
}
int SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) {
    timeval timeout{time_t(milliseconds / 1000), suseconds_t(milliseconds % 1000) * 1000};
    return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}
int SetNonBlocking(SocketHandle s, unsigned long nonBlocking) {
    int argument = nonBlocking ? 1 : 0;
    return ::ioctl(s, FIONBIO, &argument);
}

uint32_t InetAddr(const char* text) { return ::inet_addr(text); }

bool ResolveHostName(const char* name, uint32_t* address) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &result) != 0 || !result) return false;
    *address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return true;
}

}  // namespace platform
