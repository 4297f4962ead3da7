// What the game server does with one message a client sent: message 65
// gets the version answer for the asker, as often as the sender's address
// may have one; anything else is ignored with a reason. No sockets here:
// the server feeds it payloads and sends what it returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "announcement.h"
#include "platform/socket.h"
#include "rate_limit.h"

class RequestHandler {
public:
    enum class Verdict { kAnswered, kTooShort, kBadChecksum, kOtherMessage, kRateLimited };

    struct Outcome {
        bool answered = false;
        Verdict verdict = Verdict::kTooShort;
        std::vector<uint8_t> answer;  // enciphered message, when answered
        std::string note;             // for the log: what was answered or why not
    };

    // answersPerSecond: for each sender's IPv4 address; 0 for no limit.
    RequestHandler(Announcement announcement, uint32_t answersPerSecond);

    // One received message payload (cipher header and body) from a sender
    // at the millisecond tick `now`.
    Outcome Handle(const sockaddr_in& from, uint32_t now, const uint8_t* bytes, int32_t length);

    // A new announcement and limit (a reloaded configuration). The limit's
    // count starts again when the limit changes.
    void Reconfigure(Announcement announcement, uint32_t answersPerSecond);

    // "version 7, 2 patch servers: a:11679 b:11680" (and the rollout when
    // there is one)
    std::string Describe() const;

private:
    Announcement announcement;
    uint32_t answersPerSecond;
    AnswerRateLimit rateLimit;
};
