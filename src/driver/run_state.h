// The run globals of the driver. The ones it shares with the download
// receiver and the dialogs are in run/ (each header there states the rules
// of its values); the ones below are the driver's own: written and read on
// the main thread only, so they are plain values.
#pragma once

#include <cstdint>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"

namespace run {

// The version the game server announced: written when its answer is read,
// read by every decision after the attempt.
extern uint32_t serverVersion;
// The version the install has: read from "Version" after each attempt,
// raised by each applied step; the version request asks for the step after
// it.
extern uint32_t installedVersion;
// Fallbacks made in this run, against the limit of eleven.
extern int32_t fallbackCount;
// The patch server of the first connection: later steps reconnect to it. A
// fallback does not change it.
extern PatchServerEntry rememberedServer;

}  // namespace run
