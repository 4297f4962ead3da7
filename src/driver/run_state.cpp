#include "driver/run_state.h"

namespace run {

bool silentMode = false;

char gameServerAddress[kAddressSize] = {};
std::atomic<int32_t> proxyEnabled{0};
char proxyAddress[kAddressSize] = {};
std::atomic<int32_t> serverChoiceLocked{0};

std::atomic<uint32_t> serverVersion{0};
std::atomic<uint32_t> installedVersion{0};
std::atomic<uint32_t> workingVersion{0};
std::atomic<uint32_t> patchTargetVersion{0};

std::atomic<int32_t> doneFlag{0};
std::atomic<int32_t> downloadReady{0};
std::atomic<int32_t> downloadFailed{0};
std::atomic<int32_t> downloadComplete{0};
std::atomic<uint8_t> receiveState{0};
std::atomic<int32_t> receiverRunning{0};
std::atomic<int32_t> fallbackCount{0};

std::atomic<char*> patchFileName{nullptr};
std::atomic<uint32_t> patchFileSize{0};
std::atomic<uint32_t> patchBytesReceived{0};

std::atomic<uint32_t> lastSendTick{0};

std::atomic<platform::WindowHandle> dialogWindow{nullptr};

platform::CriticalSection ServerListLock;
PatchServerList patchServerList;

}  // namespace run
