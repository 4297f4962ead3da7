#include "run_state.h"

namespace run {

uint32_t serverVersion = 0;
uint32_t installedVersion = 0;
int32_t fallbackCount = 0;
PatchServerEntry rememberedServer;

}  // namespace run
