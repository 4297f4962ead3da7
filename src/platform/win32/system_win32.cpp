#include "platform/debug.h"
#include "platform/process_end.h"
#include "platform/system.h"
#include "platform/time.h"

#include <windows.h>

#include <cstdio>

namespace platform {

uint32_t SystemTick() { return timeGetTime(); }

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

void OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

void Terminate(ExitCode code) {
    std::fflush(nullptr);
    ::ExitProcess(UINT(code));
}

bool GetCurrentDriveFreeBytes(uint64_t* freeBytes) {
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!::GetDiskFreeSpaceA(nullptr, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                             &totalClusters))
        return false;
    // Three 32-bit factors can exceed 64 bits only in theory; saturate then.
    uint64_t perCluster = uint64_t(bytesPerSector) * sectorsPerCluster;
    if (perCluster != 0 && freeClusters > UINT64_MAX / perCluster)
        *freeBytes = UINT64_MAX;
    else
        *freeBytes = perCluster * freeClusters;
    return true;
}

}  // namespace platform
