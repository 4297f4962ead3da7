#include "game_server.h"

#include <atomic>
#include <ctime>
#include <utility>

#include "platform/socket.h"
#include "platform/time.h"

namespace {
// The server the engine's plain-function callback hands messages to.
std::atomic<GameServer*> runningServer{nullptr};

std::string AddressText(const sockaddr_in& address) {
    uint32_t host = ntohl(address.sin_addr.s_addr);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF) + ":" +
           std::to_string(ntohs(address.sin_port));
}

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}
}  // namespace

GameServer::GameServer(RequestHandler requestHandler, std::FILE* logFile)
    : handler(std::move(requestHandler)), log(logFile) {}

GameServer::~GameServer() {
    // A message arriving from now on is dropped; one being handled finishes
    // before the engine (the last member) is destroyed.
    GameServer* self = this;
    runningServer.compare_exchange_strong(self, nullptr);
}

GameServer::SocketLibrary::SocketLibrary() { platform::WSAStartup(0x0101); }
GameServer::SocketLibrary::~SocketLibrary() { platform::WSACleanup(); }

bool GameServer::Start(const std::string& bindAddress, uint16_t port, std::string* error) {
    if (started) {
        *error = "this server was started already";
        return false;
    }
    GameServer* none = nullptr;
    if (!runningServer.compare_exchange_strong(none, this)) {
        *error = "another game server already runs in this process";
        return false;
    }
    started = true;
    if (!engine.Start(OnMessage, port, bindAddress.c_str())) {
        runningServer = nullptr;
        *error = "cannot listen on " + bindAddress + ":" + std::to_string(port) +
                 " (not an IPv4 address of this machine, or the port is taken)";
        return false;
    }
    return true;
}

uint16_t GameServer::Port() const { return ntohs(engine.LocalAddress().sin_port); }

void GameServer::OnMessage(sockaddr_in from, const uint8_t* bytes, int32_t length) {
    if (GameServer* server = runningServer.load()) server->Handle(from, bytes, length);
}

void GameServer::Handle(const sockaddr_in& from, const uint8_t* bytes, int32_t length) {
    RequestHandler::Outcome outcome = handler.Handle(from, platform::TimeGetTime(), bytes, length);
    if (outcome.answered) {
        // QueueMessage copies the bytes; the engine numbers and sends them.
        engine.QueueMessage(from, outcome.answer.data(), int32_t(outcome.answer.size()),
                            kAnswerIntervalMs, kAnswerRetries);
        ++answered;
    }
    Log(from, outcome.note);
}

void GameServer::Log(const sockaddr_in& from, const std::string& note) {
    if (!log) return;
    platform::CriticalSectionGuard hold(logLock);
    std::fprintf(log, "%s %s %s\n", UtcNow().c_str(), AddressText(from).c_str(), note.c_str());
    std::fflush(log);
}
