#include "driver/server_answer.h"

#include "packet/kvn_packet.h"
#include "platform/debug.h"

std::optional<ServerAnswer> ReadServerAnswer(KVNPacket& packet) {
    ServerAnswer answer;
    try {
        packet.Seek(0, 0);
        int16_t id = 0;
        packet.Get(&id);
        if (id != kVersionQuestionId) return std::nullopt;
        platform::OutputDebugStringA("Case 65\r\n");
        unsigned long version = 0;  // the packet's 32-bit field
        packet.Get(&version);
        answer.version = static_cast<uint32_t>(version);
        uint16_t count = 0;
        packet.Get(&count);
        platform::DebugPrintf("Nombre de Server [%d]\r\n", int(count));
        for (uint32_t i = 0; i < count; ++i) {
            auto entry = std::make_unique<PatchServerEntry>();
            int16_t length = 0;
            packet.Get(&entry->port);
            packet.Get(&length);
            if (length < 0) throw new KVNPacketException(1);
            for (int16_t c = 0; c < length; ++c) {
                char letter = 0;
                packet.Get(&letter);
                entry->host.push_back(letter);
            }
            answer.servers.push_back(std::move(entry));
        }
    } catch (KVNPacketException* shortAnswer) {
        // A half list would send the player to the wrong place; the next
        // request brings the answer again.
        delete shortAnswer;
        platform::OutputDebugStringA("Answer too short, dropped\r\n");
        return std::nullopt;
    }
    return answer;
}
