#include "run/patch_server_list.h"

void PatchServerList::Append(std::unique_ptr<PatchServerEntry> entry) {
    entries_.push_back(std::move(entry));
}

std::unique_ptr<PatchServerEntry> PatchServerList::Take() {
    if (entries_.empty()) return nullptr;
    std::unique_ptr<PatchServerEntry> entry = std::move(entries_.front());
    entries_.pop_front();
    return entry;
}

namespace run {

platform::CriticalSection ServerListLock;
PatchServerList patchServerList;

}  // namespace run
