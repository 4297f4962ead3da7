// Asking the game server which version is current and which patch servers
// exist.
#pragma once

#include "platform/process_end.h"

// Chooses the game server (registry, else a random listed one), shows the
// server selection dialog unless in silent mode, starts the searching dialog.
void ChooseGameServer();

// Runs attempts until the game server answers (or the player gives up) and
// decides how the run goes on; returns the run's exit code when the run
// ends normally, or does not return (the exits of the run).
ExitCode DiscoverAndDecide();
