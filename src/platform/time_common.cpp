#include "platform/time.h"

#include <atomic>
#include <ctime>

namespace platform {

uint32_t SystemTick();  // defined per platform

namespace {
std::atomic<TickSource> g_tickSource{nullptr};
}

uint32_t TimeGetTime() {
    TickSource source = g_tickSource.load(std::memory_order_acquire);
    return source ? source() : SystemTick();
}

void SetTickSource(TickSource source) { g_tickSource.store(source, std::memory_order_release); }

uint32_t SecondsSinceEpoch() { return static_cast<uint32_t>(std::time(nullptr)); }

}  // namespace platform
