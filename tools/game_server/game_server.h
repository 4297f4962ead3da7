// The reference game server: one datagram engine on a UDP port that answers
// every message 65 with the configured version and patch servers, reliably
// (1000 ms apart, 5 retries), to whoever asked, within the answer rate
// limit of the asker's address. One log line per message.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "gamelink/datagram_engine.h"
#include "platform/sync.h"
#include "request_handler.h"

class GameServer {
public:
    static constexpr uint32_t kAnswerIntervalMs = 1000;
    static constexpr uint32_t kAnswerRetries = 5;

    // `log` receives one line per message, flushed (stdout in the tool).
    GameServer(RequestHandler handler, std::FILE* log);
    // Stops answering; the engine's threads end before the members go.
    ~GameServer();
    GameServer(const GameServer&) = delete;
    GameServer& operator=(const GameServer&) = delete;

    // Binds to the address and port (0: the system chooses) and starts
    // answering. Only one server runs per process: the engine's callback is
    // a plain function. False with `error` set when that fails.
    bool Start(const std::string& bindAddress, uint16_t port, std::string* error);
    // The bound port in host order (after Start).
    uint16_t Port() const;
    // Messages answered so far.
    uint64_t Answered() const { return answered; }

private:
    static void OnMessage(sockaddr_in from, const uint8_t* bytes, int32_t length);
    void Handle(const sockaddr_in& from, const uint8_t* bytes, int32_t length);
    void Log(const sockaddr_in& from, const std::string& note);

    RequestHandler handler;
    std::FILE* log;
    platform::CriticalSection logLock;
    std::atomic<uint64_t> answered{0};
    bool started = false;
    // The socket library stays started for as long as the engine exists.
    struct SocketLibrary {
        SocketLibrary();
        ~SocketLibrary();
    } socketLibrary;
    // Declared last so that it stops first: its delivery thread may be in
    // Handle, which uses everything above.
    DatagramEngine engine;
};
