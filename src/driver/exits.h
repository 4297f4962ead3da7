// How a run ends: the process exit codes its caller tells apart.
#pragma once

#include <cstdint>

constexpr int kExitNothingDone = 0;       // another updater or the game runs; no "Security.Chk"
constexpr int kNormalEnd = 1;             // the entry point returns 1
constexpr int kExitUpToDate = 232;        // the install has the server's version
constexpr int kExitNoPatchServer = 233;   // no patch server reachable, or a network failure
constexpr int kExitNotPatched = 234;      // handed over, downgrade failed, cancelled, unreachable
constexpr int kExitDowngradeLimit = 240;  // five downgrade steps in one run

// "Version" when the registry holds none that can be read.
constexpr uint32_t kNoVersion = 0xFFFFFFFFu;
