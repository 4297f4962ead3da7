#include "run/patch_server_list.h"

void PatchServerList::Append(std::unique_ptr<PatchServerEntry> entry) {
    platform::CriticalSectionGuard hold(lock_);
    entries_.push_back(std::move(entry));
}

std::unique_ptr<PatchServerEntry> PatchServerList::Take() {
    platform::CriticalSectionGuard hold(lock_);
    if (entries_.empty()) return nullptr;
    std::unique_ptr<PatchServerEntry> entry = std::move(entries_.front());
    entries_.pop_front();
    return entry;
}

uint32_t PatchServerList::Count() const {
    platform::CriticalSectionGuard hold(lock_);
    return static_cast<uint32_t>(entries_.size());
}

namespace run {

PatchServerList patchServerList;

}  // namespace run
