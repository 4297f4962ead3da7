#include "game_server.h"

#include <utility>

#include "log_time.h"
#include "platform/socket.h"
#include "platform/time.h"

namespace {
constexpr uint32_t kSummaryMs = 1000;

std::string AddressText(const sockaddr_in& address) {
    uint32_t host = ntohl(address.sin_addr.s_addr);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
           std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF) + ":" +
           std::to_string(ntohs(address.sin_port));
}

void Part(std::string& text, uint64_t count, const char* what) {
    if (count == 0) return;
    text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + what;
}
}  // namespace

GameServer::GameServer(RequestHandler requestHandler, std::FILE* logFile)
    : handler(std::move(requestHandler)), log(logFile), lastSummary(platform::TimeGetTime()) {}

GameServer::~GameServer() = default;

GameServer::SocketLibrary::SocketLibrary() { platform::WSAStartup(0x0101); }
GameServer::SocketLibrary::~SocketLibrary() { platform::WSACleanup(); }

bool GameServer::Start(const std::string& bindAddress, uint16_t port, std::string* error) {
    if (started) {
        *error = "this server was started already";
        return false;
    }
    started = true;
    auto deliver = [this](sockaddr_in from, const uint8_t* bytes, int32_t length) {
        Handle(from, bytes, length);
    };
    if (!engine.Start(deliver, port, bindAddress.c_str())) {
        *error = "cannot listen on " + bindAddress + ":" + std::to_string(port) +
                 " (not an IPv4 address of this machine, or the port is taken)";
        return false;
    }
    return true;
}

uint16_t GameServer::Port() const { return ntohs(engine.LocalAddress().sin_port); }

void GameServer::Reconfigure(Announcement announcement, uint32_t answersPerSecond) {
    std::lock_guard<std::mutex> hold(handlerLock);
    handler.Reconfigure(std::move(announcement), answersPerSecond);
    ++stats.reloads;
}

// On the engine's delivery thread: no I/O here but the answer's queueing.
void GameServer::Handle(const sockaddr_in& from, const uint8_t* bytes, int32_t length) {
    RequestHandler::Outcome outcome;
    {
        std::lock_guard<std::mutex> hold(handlerLock);
        outcome = handler.Handle(from, platform::TimeGetTime(), bytes, length);
    }
    Count(outcome.verdict);
    if (!outcome.answered) return;
    // QueueMessage copies the bytes; the engine numbers and sends them.
    engine.QueueMessage(from, outcome.answer.data(), int32_t(outcome.answer.size()),
                        kAnswerIntervalMs, kAnswerRetries);
    std::lock_guard<std::mutex> hold(queueLock);
    if (queued.size() < kMaxQueuedLines)
        queued.push_back(LogTime() + " " + AddressText(from) + " " + outcome.note);
    else
        ++unlogged;
}

void GameServer::Count(RequestHandler::Verdict verdict) {
    using Verdict = RequestHandler::Verdict;
    switch (verdict) {
        case Verdict::kAnswered:
            ++stats.answered;
            break;
        case Verdict::kTooShort:
            ++stats.tooShort;
            break;
        case Verdict::kBadChecksum:
            ++stats.badChecksum;
            break;
        case Verdict::kOtherMessage:
            ++stats.otherMessage;
            break;
        case Verdict::kRateLimited:
            ++stats.rateLimited;
            break;
    }
}

void GameServer::WriteLog() {
    std::vector<std::string> lines;
    Ignored now;
    {
        std::lock_guard<std::mutex> hold(queueLock);
        lines.swap(queued);
        now.unlogged = unlogged;
    }
    if (!log) return;
    for (const std::string& line : lines) std::fprintf(log, "%s\n", line.c_str());
    const uint32_t tick = platform::TimeGetTime();
    if (tick - lastSummary >= kSummaryMs) {
        now.tooShort = stats.tooShort;
        now.badChecksum = stats.badChecksum;
        now.otherMessage = stats.otherMessage;
        now.rateLimited = stats.rateLimited;
        std::string text;
        Part(text, now.tooShort - reported.tooShort, "ignored as too short for a message");
        Part(text, now.badChecksum - reported.badChecksum, "ignored for a bad checksum");
        Part(text, now.otherMessage - reported.otherMessage, "ignored as not message 65");
        Part(text, now.rateLimited - reported.rateLimited, "over the answer rate limit");
        Part(text, now.unlogged - reported.unlogged, "answered without a line of their own");
        if (!text.empty())
            std::fprintf(log, "%s in the last %u ms: %s\n", LogTime().c_str(), tick - lastSummary,
                         text.c_str());
        reported = now;
        lastSummary = tick;
    }
    std::fflush(log);
}
