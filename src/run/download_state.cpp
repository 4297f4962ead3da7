#include "run/download_state.h"

namespace run {

DownloadStep downloadStep;

std::atomic<uint32_t> workingVersion{0};
std::atomic<uint32_t> patchTargetVersion{0};

std::atomic<char*> patchFileName{nullptr};
std::atomic<uint32_t> patchFileSize{0};
std::atomic<uint32_t> patchBytesReceived{0};

std::atomic<uint32_t> lastSendTick{0};
std::atomic<platform::WindowHandle> dialogWindow{nullptr};

std::atomic<bool> signedOnly{false};

}  // namespace run
