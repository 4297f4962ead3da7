// A patch server played by the test: listens on loopback, accepts one
// connection and runs a script against it on a thread of its own. The
// script speaks raw bytes, written here from the exchange's wire format.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Messages of the exchange, built byte by byte (big-endian).
Bytes U16(uint16_t v);
Bytes U32(uint32_t v);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& s);
Bytes Header(uint32_t version, uint32_t size, const std::string& name);
struct Alternative {
    uint16_t port;
    std::string host;
};
Bytes Refusal(uint8_t reason, const std::vector<Alternative>& alternatives);

class PeerSocket {
public:
    explicit PeerSocket(int fd) : fd_(fd) {}
    void Send(const Bytes& bytes);
    // Reads exactly n bytes; fewer when the client closes or 5 s pass.
    Bytes Read(size_t n, int timeoutMs = 5000);
    // True when nothing arrives within timeoutMs.
    bool Quiet(int timeoutMs);
    // Waits until the client closes the connection (at most 5 s).
    void WaitClosed();
    void Close();
    int fd() const { return fd_; }

private:
    int fd_;
};

class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<void(PeerSocket&)> script);
    ~ScriptedPeer();  // joins the script thread
    uint16_t Port() const { return port_; }
    void Join();
    // For scenes that end the process while the script runs.
    void Detach() { thread_.detach(); }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// Waits up to 5 s for the condition; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
