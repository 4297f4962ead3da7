// The file-system service that the portable download path needs, and the
// handle type under which portable code keeps a window it never touches.
#pragma once

#include <cstdint>

namespace platform {

using WindowHandle = void*;

// Free bytes on the drive of the current directory
// (GetDiskFreeSpaceA: bytes per sector x sectors per cluster x free clusters),
// false when the query fails.
bool GetCurrentDriveFreeBytes(uint64_t* freeBytes);

}  // namespace platform
