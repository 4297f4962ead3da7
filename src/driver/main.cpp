// MirelandsUpdate.exe: the whole update run on the main thread.
#include <windows.h>

#include "driver/startup.h"

// A normal end of the run; every other end is a process exit with its code.
constexpr int kExitNormalEnd = 1;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    RunStartup(instance, commandLine);
    // Server discovery and the patch steps follow here.
    return kExitNormalEnd;
}
