// The run globals of the driver: the ones that only the driver's main
// thread reads and writes, and (through the headers below) the ones it
// shares with the download receiver and the dialogs.
#pragma once

#include <atomic>
#include <cstdint>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"

namespace run {

// The version the game server announced (discovery), and the version the
// install has (read from "Version" after each attempt, then raised by each
// applied step).
extern std::atomic<uint32_t> serverVersion;
extern std::atomic<uint32_t> installedVersion;
// Fallbacks made in this run, counted against the limit.
extern std::atomic<int32_t> fallbackCount;

}  // namespace run
