// The game server's answer to the version question (message 65): its
// version and the patch servers, in the order players should try them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "run/patch_server_list.h"

class KVNPacket;

constexpr int16_t kVersionQuestionId = 65;

struct ServerAnswer {
    uint32_t version = 0;
    std::vector<std::unique_ptr<PatchServerEntry>> servers;
};

// Reads a deciphered message: 16-bit id 65, 32-bit version, 16-bit count
// (unsigned), then per server a 16-bit port, a 16-bit name length and the
// name's characters. None for a message of another id, and for an answer
// too short for what it announces or with a negative name length: such an
// answer is dropped whole, never half listed.
std::optional<ServerAnswer> ReadServerAnswer(KVNPacket& packet);
