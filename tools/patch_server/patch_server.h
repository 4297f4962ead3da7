// A reference patch server: greets every client, answers its version
// request with the header of the next step's patch file or a refusal, takes
// the resume offset and streams the file from there. One thread serves all
// clients through epoll.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalogue.h"

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    uint16_t port = 11679;
    std::string catalogueDir;
    size_t maxClients = 64;
    size_t maxPerAddress = 8;  // places one IPv4 address may hold; 0: no cap
    std::vector<std::pair<uint16_t, std::string>> alternatives;
    int idleSeconds = 60;
};

class PatchServer {
public:
    PatchServer(const ServerOptions& options, const Catalogue& catalogue);
    ~PatchServer();
    // Binds and listens; false with `error` set when that fails.
    bool Listen(std::string* error);
    uint16_t Port() const { return port_; }
    // Serves until Stop is called (from a signal handler).
    void Run();
    static void Stop();

private:
    enum class State { kAwaitVersion, kAwaitOffset, kStreaming, kDraining };
    struct Client {
        int fd = -1;
        std::string peer;
        State state = State::kAwaitVersion;
        uint32_t address = 0;  // the peer's IPv4 address
        bool counted = false;  // holds one of the maxClients places
        std::string out;       // small messages not yet sent
        size_t outAt = 0;
        uint8_t in[4] = {};
        size_t inLength = 0;
        uint32_t version = 0;
        const PatchStep* step = nullptr;
        uint64_t fileAt = 0;
        uint64_t startOffset = 0;
        bool wantWrite = false;
        time_t lastActive = 0;
        std::string outcome = "closed before the request";
    };

    const ServerOptions& options_;
    const Catalogue& catalogue_;
    int listener_ = -1;
    int epoll_ = -1;
    uint16_t port_ = 0;
    size_t served_ = 0;
    std::map<uint32_t, size_t> servedPerAddress_;  // addresses holding places
    std::map<int, std::unique_ptr<Client>> clients_;

    void Accept();
    void OnReadable(Client& client);
    void OnFourBytes(Client& client, uint32_t value);
    void Flush(Client& client);
    void WatchWrites(Client& client, bool on);
    void Refuse(Client& client, uint8_t reason, const std::string& why);
    void Finish(Client& client);
    void Drop(int fd);
    void DropIdle();
};
