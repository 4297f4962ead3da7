// MirelandsUpdate.exe: the whole update run on the main thread.
#include <windows.h>

#include "driver/discovery.h"
#include "driver/startup.h"

// Returns 1 when the run ends normally; every other end of the run is a
// process exit with its own code (driver/exits.h).
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    RunStartup(instance, commandLine);
    ChooseGameServer();
    return DiscoverAndDecide();
}
