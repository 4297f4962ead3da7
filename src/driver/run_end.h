// The driver's exits: the box (if any) and the exit code of each end.
#pragma once

#include "driver/run_decisions.h"

// Shows the end's error box, owned by the main window, then ends the process
// with its exit code (the text table is closed first). Main thread only: the
// box belongs to the driver.
[[noreturn]] void EndRun(RunEnd end);
