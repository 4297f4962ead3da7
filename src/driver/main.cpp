// MirelandsUpdate.exe: the whole update run on the main thread.
#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <windows.h>

#include "discovery.h"
#include "globals.h"
#include "startup.h"
#include "platform/process_end.h"

// Every end of the run, the normal one too, goes through platform::Terminate
// (platform/process_end.h): threads of the dialogs or the links may still
// run, and nothing may be torn down under them.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    RunStartup(instance, commandLine);
    ChooseGameServer();
    platform::Terminate(DiscoverAndDecide());
}
