#include "platform/debug.h"
#include "platform/process_end.h"
#include "platform/system.h"
#include "platform/time.h"

#include <sched.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace platform {

uint32_t SystemTick() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec pause{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

// Natively the traces go to stderr when MRL_TRACE is set, and nowhere else.
void OutputDebugStringA(const char* text) {
    if (text && std::getenv("MRL_TRACE")) std::fputs(text, stderr);
}

void Terminate(ExitCode code) {
    std::fflush(nullptr);
    _exit(int(code));
}

bool GetCurrentDriveFreeBytes(uint64_t* freeBytes) {
    struct statvfs info;
    if (statvfs(".", &info) != 0) return false;
    *freeBytes = uint64_t(info.f_bavail) * info.f_frsize;
    return true;
}

}  // namespace platform
