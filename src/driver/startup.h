// The start of a run, up to the moment the installed version is known.
#pragma once

#include <windows.h>

constexpr const char* kUpdaterWindowClass = "PatchMEClass";
constexpr const char* kGameWindowClass = "AppClass";
constexpr const char* kUpdaterTitle = "Mirelands Auto Update";

// True when another updater or the game client already has a window.
bool AnotherInstanceRuns();

// Runs the start-up sequence: instance check, silent mode, AppInfo and the
// main window, the text table, the install check, the registry and the
// version copy. Ends the process itself with ExitCode::kNothingDone where the run
// must not go on.
void RunStartup(HINSTANCE instance, const char* commandLine);
