// A reference patch server: greets every client, answers its version
// request with the header of the next step's patch file or a refusal, takes
// the resume offset and streams the file from there. One thread serves all
// clients through epoll. A new catalogue (SIGHUP, or a changed manifest)
// serves the clients that come after it; a download in flight keeps the
// catalogue, and so the open file, it started with.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue.h"
#include "unique_fd.h"

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    uint16_t port = 11679;
    std::string catalogueDir;
    size_t maxClients = 64;
    size_t maxPerAddress = 8;  // places one IPv4 address may hold; 0: no cap
    // Open connections, refused ones included; 0: maxClients + maxClients / 4 + 16.
    size_t maxConnections = 0;
    std::vector<std::pair<uint16_t, std::string>> alternatives;
    int idleSeconds = 60;
};

// What the server has done since it started, read by the metrics endpoint
// while the server runs.
struct PatchServerStats {
    std::atomic<uint64_t> downloadsStarted{0};  // resume offset 0
    std::atomic<uint64_t> downloadsResumed{0};  // a later offset
    std::atomic<uint64_t> downloadsCompleted{0};
    std::atomic<uint64_t> bytesSent{0};  // of patch files
    std::atomic<uint64_t> refusedNoPatch{0};
    std::atomic<uint64_t> refusedFull{0};
    std::atomic<uint64_t> refusedPerAddress{0};
    std::atomic<uint64_t> acceptBackoffs{0};  // out of descriptors
    std::atomic<uint64_t> catalogueReloads{0};
    std::atomic<uint64_t> connectedNow{0};
};

class PatchServer {
public:
    PatchServer(const ServerOptions& options, std::shared_ptr<const Catalogue> catalogue);
    PatchServer(const PatchServer&) = delete;
    PatchServer& operator=(const PatchServer&) = delete;
    // Binds and listens; false with `error` set when that fails.
    bool Listen(std::string* error);
    uint16_t Port() const { return port_; }
    // Serves until Stop is called (from a signal handler).
    void Run();
    // Both are safe in a signal handler.
    static void Stop();
    static void RequestReload();
    const PatchServerStats& Stats() const { return stats_; }

private:
    enum class State { kAwaitVersion, kAwaitOffset, kStreaming, kDraining };
    struct Client {
        UniqueFd fd;
        std::string peer;
        State state = State::kAwaitVersion;
        uint32_t address = 0;        // the peer's IPv4 address
        bool counted = false;        // holds one of the maxClients places
        bool closeWhenSent = false;  // a refusal: closed once it is out
        std::string out;             // small messages not yet sent
        size_t outAt = 0;
        uint8_t in[4] = {};
        size_t inLength = 0;
        uint32_t version = 0;
        std::shared_ptr<const Catalogue> catalogue;  // keeps `step` and its file open
        const PatchStep* step = nullptr;
        uint64_t fileAt = 0;
        uint64_t startOffset = 0;
        bool wantWrite = false;
        time_t lastActive = 0;
        std::string outcome = "closed before the request";
    };

    const ServerOptions& options_;
    size_t maxConnections_;
    std::shared_ptr<const Catalogue> catalogue_;
    struct stat manifestSeen_ {};  // what the last load found (zero: missing)
    int64_t manifestCheckedMs_ = 0;
    UniqueFd listener_;
    UniqueFd epoll_;
    uint16_t port_ = 0;
    bool listening_ = true;  // the listener is in the epoll set
    int64_t backoffMs_ = 0;  // the current pause after running out of descriptors
    int64_t backoffUntilMs_ = 0;
    size_t served_ = 0;
    std::map<uint32_t, size_t> servedPerAddress_;  // addresses holding places
    std::map<int, std::unique_ptr<Client>> clients_;
    PatchServerStats stats_;

    void Accept();
    void BackOff();
    void WatchListener(bool on);
    void ResumeListener();
    void ReloadIfAsked();
    void Reload();
    void OnReadable(Client& client);
    void OnFourBytes(Client& client, uint32_t value);
    void Flush(Client& client);
    void WatchWrites(Client& client, bool on);
    void Refuse(Client& client, uint8_t reason, const std::string& why);
    void Finish(Client& client);
    void Drop(int fd);
    void DropIdle();
    void Log(const std::string& line);
};
