#include "ui/dialogs/dialog_registry.h"

DialogRegistry& DialogRegistry::Instance() {
    // Built on first use (the first WndDialog), never destroyed: dialog
    // threads may still use it while the process exits.
    static DialogRegistry* registry = new DialogRegistry();
    return *registry;
}

uint32_t DialogRegistry::AddDialog() {
    platform::CriticalSectionGuard guard(lock_);
    entries_.emplace_back();
    return static_cast<uint32_t>(entries_.size() - 1);
}

uint32_t DialogRegistry::DialogCount() {
    platform::CriticalSectionGuard guard(lock_);
    return static_cast<uint32_t>(entries_.size());
}

void DialogRegistry::AddCommand(uint32_t index, uint32_t commandId, CommandHandler handler) {
    platform::CriticalSectionGuard guard(lock_);
    if (index >= entries_.size()) return;
    entries_[index].commandIds.push_back(commandId);
    entries_[index].handlers.push_back(handler);
}

std::vector<CommandHandler> DialogRegistry::HandlersFor(WPARAM wParam) {
    // The handlers are called after the lock is released: a handler may end
    // a box or the process.
    platform::CriticalSectionGuard guard(lock_);
    std::vector<CommandHandler> found;
    for (const Entry& entry : entries_) {
        for (size_t i = 0; i < entry.commandIds.size(); ++i) {
            if (wParam == static_cast<WPARAM>(entry.commandIds[i]) && entry.handlers[i])
                found.push_back(entry.handlers[i]);
        }
    }
    return found;
}

HWND DialogRegistry::Window(uint32_t index) {
    platform::CriticalSectionGuard guard(lock_);
    return index < entries_.size() ? entries_[index].window : nullptr;
}

void DialogRegistry::BeginOpening(uint32_t index) {
    openingLock_.Enter();
    platform::CriticalSectionGuard guard(lock_);
    openingIndex_ = index;
    openingHeld_ = true;
    openingThread_ = ::GetCurrentThreadId();
}

bool DialogRegistry::BoxInitialised(HWND window, INT_PTR* pendingResult) {
    platform::CriticalSectionGuard guard(lock_);
    if (!openingHeld_ || openingThread_ != ::GetCurrentThreadId() ||
        openingIndex_ >= entries_.size())
        return false;
    Entry& entry = entries_[openingIndex_];
    entry.window = window;
    entry.state = BoxState::kOpen;
    ReleaseOpening();
    if (!entry.endRequested) return false;
    *pendingResult = entry.endResult;
    return true;
}

void DialogRegistry::FinishOpening(uint32_t index) {
    platform::CriticalSectionGuard guard(lock_);
    // A box that could not be created never saw WM_INITDIALOG: without this
    // every later opening would wait for ever.
    if (openingHeld_ && openingThread_ == ::GetCurrentThreadId() && openingIndex_ == index)
        ReleaseOpening();
    if (index >= entries_.size()) return;
    entries_[index].state = BoxState::kClosed;
    entries_[index].window = nullptr;
}

void DialogRegistry::ReleaseOpening() {
    openingHeld_ = false;
    openingThread_ = 0;
    openingLock_.Leave();
}

void DialogRegistry::RequestEnd(uint32_t index, INT_PTR result) {
    platform::CriticalSectionGuard guard(lock_);
    if (index >= entries_.size()) return;
    Entry& entry = entries_[index];
    switch (entry.state) {
        case BoxState::kNotOpen:
            entry.endRequested = true;
            entry.endResult = result;
            break;
        case BoxState::kOpen:
            ::PostMessageA(entry.window, kEndDialogMessage, static_cast<WPARAM>(result), 0);
            break;
        case BoxState::kClosed:
            break;
    }
}
