#include "run/download_state.h"

namespace run {

std::atomic<int32_t> doneFlag{0};
std::atomic<int32_t> downloadReady{0};
std::atomic<int32_t> downloadFailed{0};
std::atomic<int32_t> downloadComplete{0};
std::atomic<uint8_t> receiveState{0};
std::atomic<int32_t> receiverRunning{0};
std::atomic<int32_t> networkFailed{0};
std::atomic<int32_t> shortOfSpace{0};

std::atomic<uint32_t> workingVersion{0};
std::atomic<uint32_t> patchTargetVersion{0};

std::atomic<char*> patchFileName{nullptr};
std::atomic<uint32_t> patchFileSize{0};
std::atomic<uint32_t> patchBytesReceived{0};

std::atomic<uint32_t> lastSendTick{0};
std::atomic<platform::WindowHandle> dialogWindow{nullptr};

}  // namespace run
