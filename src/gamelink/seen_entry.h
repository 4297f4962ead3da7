// One sequence number recently received from a peer, remembered for the
// duplicate test until `expiry` (receipt tick + 15,000 ms).
#pragma once

#include <cstdint>

struct SeenEntry {
    uint32_t sequence;
    uint32_t expiry;
};
