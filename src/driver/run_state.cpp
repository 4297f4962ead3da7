#include "driver/run_state.h"

namespace run {

std::atomic<uint32_t> serverVersion{0};
std::atomic<uint32_t> installedVersion{0};
std::atomic<int32_t> fallbackCount{0};

}  // namespace run
