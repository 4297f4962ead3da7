// Berkeley sockets with Windows Sockets semantics: the error numbers are the
// Windows ones (10035 would block, 10061 refused, ...) on every platform, so
// that traces and decisions read the same everywhere.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace platform {

#ifdef _WIN32
using SocketHandle = SOCKET;
#else
using SocketHandle = int;
#endif
constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

constexpr int kWsaEintr = 10004;
constexpr int kWsaEbadf = 10009;
constexpr int kWsaEinval = 10022;
constexpr int kWsaEwouldblock = 10035;
constexpr int kWsaEnotsock = 10038;
constexpr int kWsaEmsgsize = 10040;
constexpr int kWsaEaddrinuse = 10048;
constexpr int kWsaEnetunreach = 10051;
constexpr int kWsaEconnaborted = 10053;
constexpr int kWsaEconnreset = 10054;
constexpr int kWsaEnotconn = 10057;
constexpr int kWsaEtimedout = 10060;
constexpr int kWsaEconnrefused = 10061;
constexpr int kWsaEhostunreach = 10065;

// WSAStartup / WSACleanup; no-ops that succeed outside Windows.
int WSAStartup(uint16_t version);
int WSACleanup();
// The error of the last failed socket call of this thread, as a Windows
// Sockets number.
int WSAGetLastError();

SocketHandle Socket(int family, int type, int protocol);
int Bind(SocketHandle s, const sockaddr_in& address);
int Connect(SocketHandle s, const sockaddr_in& address);
int GetSockName(SocketHandle s, sockaddr_in* address);
// send/recv: byte count, 0 when the peer closed (recv), -1 on error.
int Send(SocketHandle s, const void* data, int length);
int Recv(SocketHandle s, void* buffer, int capacity);
int SendTo(SocketHandle s, const void* data, int length, const sockaddr_in& to);
int RecvFrom(SocketHandle s, void* buffer, int capacity, sockaddr_in* from);
int Shutdown(SocketHandle s, int how);  // how 1: the sending side
// Closes the socket; a receive blocked on it in another thread returns.
int CloseSocket(SocketHandle s);
// setsockopt(SO_RCVTIMEO): a blocking receive fails with 10060 after this
// many milliseconds without a datagram; 0 waits for ever.
int SetReceiveTimeout(SocketHandle s, uint32_t milliseconds);
// ioctlsocket(FIONBIO): 0 blocking, non-zero non-blocking.
int SetNonBlocking(SocketHandle s, unsigned long nonBlocking);

// inet_addr: the address in network byte order, INADDR_NONE when the text
// is not a dotted IPv4 address.
uint32_t InetAddr(const char* text);
// gethostbyname: the first IPv4 address of the name in network byte order;
// false when the name cannot be resolved.
bool ResolveHostName(const char* name, uint32_t* address);

}  // namespace platform
