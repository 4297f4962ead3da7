// Deadlines on the 32-bit millisecond tick. A deadline is reached when the
// unsigned difference from it to now is below half the tick's range, so a
// wrap of the tick between scheduling and checking does no harm.
#pragma once

#include <cstdint>

// dueTime of a record that is not scheduled.
constexpr uint32_t kNotScheduled = 0xFFFFFFFFu;

inline bool DueTimeReached(uint32_t now, uint32_t dueTime) {
    return dueTime != kNotScheduled && static_cast<int32_t>(now - dueTime) >= 0;
}

// A deadline `delay` ms from now, never the value that means "not scheduled".
inline uint32_t DueTimeAfter(uint32_t now, uint32_t delay) {
    uint32_t due = now + delay;
    return due == kNotScheduled ? due - 1 : due;
}
