// The TCP client that carries the patch-server exchange. Its owner (the
// driver) configures, connects and closes it and sends the version request;
// while a download receiver runs, the receiver reads the answers and the
// file data from it and sends the resume offset. The owner closes it only
// once the receiver is joined.
#pragma once

#include <cstdint>

#include "platform/socket.h"

class StreamConnection {
public:
    static constexpr int kHostSize = 100;  // 99 characters and the terminator

    StreamConnection();
    // The process-exit clean-up: closes a connection still started.
    ~StreamConnection();
    StreamConnection(const StreamConnection&) = delete;
    StreamConnection& operator=(const StreamConnection&) = delete;

    // Longer host texts are cut to 99 characters.
    void SetHost(const char* host);
    void SetPort(uint16_t port);
    void SetSocketType(uint32_t type);
    void SetWaitModes(bool waitOnSend, bool waitOnReceive);

    // 1 when connected, 0 when the connect call failed, kFatal when Windows
    // Sockets would not start or the host name cannot be resolved.
    int Connect();
    // Sends every byte (a short send is continued), tracing each call.
    // Failures are traced only. Ends with a 10 ms pause.
    void Send(const void* data, int count);
    // Bytes read (at most capacity); 0 when a non-waiting read would block;
    // kFatal when the read failed or the peer closed the connection.
    int Receive(void* buffer, int capacity);
    // Wakes a read blocked on another thread (both directions shut down);
    // that read then fails. The socket stays open until Close.
    void Interrupt();
    void Close();

    // A fatal network error: the driver then ends the run.
    static constexpr int kFatal = -1;

private:
    sockaddr_in peerAddress_{};
    platform::SocketHandle socket_ = platform::kNoSocket;
    char host_[kHostSize] = {};
    uint16_t port_ = 0;
    uint32_t socketType_ = 0;
    bool started_ = false;
    bool waitOnSend_ = false;
    bool waitOnReceive_ = false;
    int socketStarts_ = 0;  // WSAStartup calls that Close must balance

    bool FillPeerAddress();
    // Traces the error code of the failure that ends the exchange.
    static int Fatal();
    int SendOnce(const uint8_t* data, int count);
    void ReleaseSocket();
};
