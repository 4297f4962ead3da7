// Deadlines on the 32-bit millisecond tick. A deadline is reached when the
// unsigned difference from it to now is below half the tick's range, so a
// wrap of the tick between scheduling and checking does no harm.
#pragma once

#include <cstdint>

inline bool DueTimeReached(uint32_t now, uint32_t dueTime) {
    return static_cast<int32_t>(now - dueTime) >= 0;
}
