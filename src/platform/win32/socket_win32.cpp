#include "platform/socket.h"

#include <cstring>

namespace platform {

int WSAStartup(uint16_t version) {
    WSADATA data;
    return ::WSAStartup(version, &data);
}
int WSACleanup() { return ::WSACleanup(); }
int WSAGetLastError() { return ::WSAGetLastError(); }

SocketHandle Socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }
int Bind(SocketHandle s, const sockaddr_in& a) {
    return ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}
int Connect(SocketHandle s, const sockaddr_in& a) {
    return ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}
int GetSockName(SocketHandle s, sockaddr_in* a) {
    int length = sizeof *a;
    return ::getsockname(s, reinterpret_cast<sockaddr*>(a), &length);
}
int Send(SocketHandle s, const void* data, int length) {
    return ::send(s, static_cast<const char*>(data), length, 0);
}
int Recv(SocketHandle s, void* buffer, int capacity) {
    return ::recv(s, static_cast<char*>(buffer), capacity, 0);
}
int SendTo(SocketHandle s, const void* data, int length, const sockaddr_in& to) {
    return ::sendto(s, static_cast<const char*>(data), length, 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
}
int RecvFrom(SocketHandle s, void* buffer, int capacity, sockaddr_in* from) {
    int length = sizeof *from;
    return ::recvfrom(s, static_cast<char*>(buffer), capacity, 0, reinterpret_cast<sockaddr*>(from),
                      &length);
}
int Shutdown(SocketHandle s, int how) { return ::shutdown(s, how); }
int CloseSocket(SocketHandle s) { return ::closesocket(s); }
int SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) {
    DWORD timeout = milliseconds;
    return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                        sizeof timeout);
}
int SetNonBlocking(SocketHandle s, unsigned long nonBlocking) {
    u_long argument = nonBlocking;
    return ::ioctlsocket(s, FIONBIO, &argument);
}

uint32_t InetAddr(const char* text) { return ::inet_addr(text); }

bool ResolveHostName(const char* name, uint32_t* address) {
    const hostent* entry = ::gethostbyname(name);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) return false;
    int length = entry->h_length < 4 ? entry->h_length : 4;
    uint32_t value = 0;
    std::memcpy(&value, entry->h_addr_list[0], length);
    *address = value;
    return true;
}

}  // namespace platform
