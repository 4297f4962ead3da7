// The patch servers named by the game server and by refusing patch servers:
// a FIFO that only the driver takes from, and that the driver (the game
// server's answer) and the download receiver (a refusal's alternatives)
// append to. Each call holds the list's own lock for its own length only,
// so nobody waits on it while a connection is made.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/sync.h"

struct PatchServerEntry {
    uint16_t port = 0;
    std::string host;
};

class PatchServerList {
public:
    void Append(std::unique_ptr<PatchServerEntry> entry);
    // The oldest entry, or null when the list is empty.
    std::unique_ptr<PatchServerEntry> Take();
    uint32_t Count() const;

private:
    mutable platform::CriticalSection lock_;
    std::deque<std::unique_ptr<PatchServerEntry>> entries_;
};

namespace run {

extern PatchServerList patchServerList;

}  // namespace run
