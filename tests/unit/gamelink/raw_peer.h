// The independent peer of the engine tests: a plain loopback UDP socket that
// sends and reads datagrams built by hand, never through the engine.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

class RawPeer {
public:
    RawPeer();
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    const sockaddr_in& Address() const { return address; }
    void SendTo(const sockaddr_in& to, const Bytes& datagram) const;
    // The next datagram within timeoutMs; false when none came.
    bool Receive(Bytes* datagram, int timeoutMs, sockaddr_in* from = nullptr) const;
    // Everything that arrives until the line has been quiet for quietMs.
    std::vector<Bytes> ReceiveAll(int quietMs = 100) const;
    int Handle() const { return handle; }

private:
    int handle;
    sockaddr_in address{};
};

sockaddr_in Loopback(uint16_t networkPort);
