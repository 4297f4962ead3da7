// The reference game server: one datagram engine on a UDP port that answers
// every message 65 with the version and patch servers for the asker,
// reliably (1000 ms apart, 5 retries), within the answer rate limit of the
// asker's address. The engine's delivery thread only decides, counts and
// queues: the log is written by whoever calls WriteLog (the program's main
// loop), one line per answer and, at most once a second, a summary of what
// was ignored. A flood of forged messages therefore never becomes disk I/O
// on the thread that takes the messages in.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "gamelink/datagram_engine.h"
#include "request_handler.h"

// Counts since the start, read by the metrics endpoint while the server runs.
struct GameServerStats {
    std::atomic<uint64_t> answered{0};
    std::atomic<uint64_t> tooShort{0};
    std::atomic<uint64_t> badChecksum{0};
    std::atomic<uint64_t> otherMessage{0};
    std::atomic<uint64_t> rateLimited{0};
    std::atomic<uint64_t> reloads{0};
};

class GameServer {
public:
    static constexpr uint32_t kAnswerIntervalMs = 1000;
    static constexpr uint32_t kAnswerRetries = 5;
    // Answer lines waiting for WriteLog; more are counted, not kept.
    static constexpr size_t kMaxQueuedLines = 256;

    // `log` receives the lines WriteLog writes (stdout in the tool).
    GameServer(RequestHandler handler, std::FILE* log);
    // Stops answering; the engine's threads end before the members go.
    ~GameServer();
    GameServer(const GameServer&) = delete;
    GameServer& operator=(const GameServer&) = delete;

    // Binds to the address and port (0: the system chooses) and starts
    // answering. False with `error` set when that fails.
    bool Start(const std::string& bindAddress, uint16_t port, std::string* error);
    // The bound port in host order (after Start).
    uint16_t Port() const;
    // Messages answered so far.
    uint64_t Answered() const { return stats.answered; }
    const GameServerStats& Stats() const { return stats; }

    // What the next answers say (a reloaded configuration).
    void Reconfigure(Announcement announcement, uint32_t answersPerSecond);
    // Writes the queued answer lines and, when a second has passed since
    // the last one and something was ignored since, a summary line.
    void WriteLog();

private:
    struct Ignored {
        uint64_t tooShort = 0, badChecksum = 0, otherMessage = 0, rateLimited = 0, unlogged = 0;
    };

    void Handle(const sockaddr_in& from, const uint8_t* bytes, int32_t length);
    void Count(RequestHandler::Verdict verdict);

    RequestHandler handler;  // the delivery thread's, and Reconfigure's under handlerLock
    std::mutex handlerLock;
    std::FILE* log;
    std::mutex queueLock;
    std::vector<std::string> queued;  // answer lines for WriteLog
    uint64_t unlogged = 0;            // answer lines beyond kMaxQueuedLines
    Ignored reported;                 // the counts the last summary covered
    uint32_t lastSummary = 0;         // tick of the last summary
    GameServerStats stats;
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
