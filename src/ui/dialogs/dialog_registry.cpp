#include "ui/dialogs/dialog_registry.h"

DialogRegistry& DialogRegistry::Instance() {
    // Built on first use (the first WndDialog), never destroyed: dialog
    // threads may still use it while the process exits.
    static DialogRegistry* registry = new DialogRegistry();
    return *registry;
}

uint32_t DialogRegistry::AddDialog() {
    platform::CriticalSectionGuard guard(lock);
    entries.emplace_back();
    return static_cast<uint32_t>(entries.size() - 1);
}

uint32_t DialogRegistry::DialogCount() {
    platform::CriticalSectionGuard guard(lock);
    return static_cast<uint32_t>(entries.size());
}

void DialogRegistry::AddCommand(uint32_t index, uint32_t commandId, CommandHandler handler) {
    platform::CriticalSectionGuard guard(lock);
    if (index >= entries.size()) return;
    entries[index].commandIds.push_back(commandId);
    entries[index].handlers.push_back(handler);
}

std::vector<CommandHandler> DialogRegistry::HandlersFor(WPARAM wParam) {
    // The handlers are called after the lock is released: a handler may end
    // a box or the process.
    platform::CriticalSectionGuard guard(lock);
    std::vector<CommandHandler> found;
    for (const Entry& entry : entries) {
        for (size_t i = 0; i < entry.commandIds.size(); ++i) {
            if (wParam == static_cast<WPARAM>(entry.commandIds[i]) && entry.handlers[i])
                found.push_back(entry.handlers[i]);
        }
    }
    return found;
}

HWND DialogRegistry::Window(uint32_t index) {
    platform::CriticalSectionGuard guard(lock);
    return index < entries.size() ? entries[index].window : nullptr;
}

void DialogRegistry::BeginOpening(uint32_t index) {
    openingLock.Enter();
    platform::CriticalSectionGuard guard(lock);
    openingIndex = index;
    openingHeld = true;
    openingThread = ::GetCurrentThreadId();
}

bool DialogRegistry::BoxInitialised(HWND window, INT_PTR* pendingResult) {
    platform::CriticalSectionGuard guard(lock);
    if (!openingHeld || openingThread != ::GetCurrentThreadId() || openingIndex >= entries.size())
        return false;
    Entry& entry = entries[openingIndex];
    entry.window = window;
    entry.state = BoxState::kOpen;
    ReleaseOpening();
    if (!entry.endRequested) return false;
    *pendingResult = entry.endResult;
    return true;
}

void DialogRegistry::FinishOpening(uint32_t index) {
    platform::CriticalSectionGuard guard(lock);
    // A box that could not be created never saw WM_INITDIALOG: without this
    // every later opening would wait for ever.
    if (openingHeld && openingThread == ::GetCurrentThreadId() && openingIndex == index)
        ReleaseOpening();
    if (index >= entries.size()) return;
    entries[index].state = BoxState::kClosed;
    entries[index].window = nullptr;
}

void DialogRegistry::ReleaseOpening() {
    openingHeld = false;
    openingThread = 0;
    openingLock.Leave();
}

void DialogRegistry::RequestEnd(uint32_t index, INT_PTR result) {
    platform::CriticalSectionGuard guard(lock);
    if (index >= entries.size()) return;
    Entry& entry = entries[index];
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
