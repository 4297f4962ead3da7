// What the game server does with one message a client sent: message 65
// gets the version answer, anything else is ignored with a reason. No
// sockets here: the server feeds it payloads and sends what it returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "version_answer.h"

class RequestHandler {
public:
    struct Outcome {
        bool answered = false;
        std::vector<uint8_t> answer;  // enciphered message, when answered
        std::string note;             // for the log: what was answered or why not
    };

    explicit RequestHandler(VersionAnswer versionAnswer);

    // One received message payload (cipher header and body).
    Outcome Handle(const uint8_t* bytes, int32_t length) const;

    // "version 7, 2 patch servers: a:11679 b:11680"
    std::string Describe() const;

private:
    VersionAnswer answer;
};
