// The 32-bit millisecond tick and sleeping.
#pragma once

#include <cstdint>

namespace platform {

// The multimedia timer's millisecond tick (timeGetTime on Windows). It wraps
// after about 49.7 days; compare ticks with the helpers below.
uint32_t TimeGetTime();

// Tests replace the tick to run long expiries without waiting; nullptr
// restores the system tick.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

// Milliseconds from `earlier` to `later`, by unsigned difference, so that a
// wrap of the tick between the two readings does no harm.
inline uint32_t TickDiff(uint32_t later, uint32_t earlier) { return later - earlier; }

void Sleep(uint32_t milliseconds);

// Seconds since 1970-01-01 00:00 UTC.
uint32_t SecondsSinceEpoch();

}  // namespace platform
