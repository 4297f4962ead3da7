// Thrown (as a pointer to a heap object) by every packet reader that would
// read past the end of the received body. Whoever catches it deletes it.
#pragma once

#include <cstdint>

class KVNPacketException {
public:
    explicit KVNPacketException(int32_t errorCode) : code(errorCode) {}

    int32_t code;
};

// The one code the packet raises: a read past the end of the body.
constexpr int32_t KVN_READ_PAST_END = 1;
