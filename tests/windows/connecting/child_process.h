// Runs this test program again as a child that plays one scene (chosen by
// the MRL_CHILD environment variable), so that a test can watch a process
// end with its own exit code or show a box.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The scene this process plays, or "" in the parent.
std::string ChildScene();

// Starts the child for `scene` running only `testName`, calls `watch` with
// its process id while it runs, and returns its exit code (or -1 when it
// had to be killed after 20 s).
long RunChild(const std::string& scene, const std::string& testName,
              const std::function<void(DWORD)>& watch);

// The first visible top-level dialog of `pid` with this caption, waiting at
// most timeoutMs; null when none appeared.
HWND WaitForDialog(DWORD pid, const char* caption, DWORD timeoutMs);

std::string ItemText(HWND dialog, int item);
