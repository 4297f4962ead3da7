// The process-wide state shared by every WndDialog: one entry per dialog ever
// constructed (commands, handlers, the box's window), the opening lock and
// the index of the box being opened. Entries are never removed.
//
// One lock guards the entries, so dialog threads may construct dialogs and
// add commands while another thread dispatches a command or ends a box. The
// opening lock is held from just before a box is created until the box has
// stored its window (or failed to appear), so that the opening index is
// unambiguous when two dialog threads open boxes at the same time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/sync.h"

using CommandHandler = void (*)();

// Posted to a box to end it from its own procedure: a modal loop on another
// thread would not notice an EndDialog called from here until its next message.
constexpr UINT kEndDialogMessage = WM_APP + 0x4D;

class DialogRegistry {
public:
    static DialogRegistry& Instance();

    // A new entry (no commands, no window); its index.
    uint32_t AddDialog();
    uint32_t DialogCount();
    void AddCommand(uint32_t index, uint32_t commandId, CommandHandler handler);
    // Handlers of every command equal to wParam: dialogs in index order, each
    // dialog's commands in registration order.
    std::vector<CommandHandler> HandlersFor(WPARAM wParam);
    // The box's window once it is initialised, else none.
    HWND Window(uint32_t index);

    // Opening a box (WndDialog::Run): take the opening lock for `index`...
    void BeginOpening(uint32_t index);
    // ...the box's WM_INITDIALOG stores its window and releases the lock;
    // true (and the result) when an end was requested before the box existed,
    // so the box ends at once. A box not opened through BeginOpening on this
    // thread is left alone.
    bool BoxInitialised(HWND window, INT_PTR* pendingResult);
    // ...and when the box has ended (or could not be created at all): release
    // the lock if the box never did, and forget the window.
    void FinishOpening(uint32_t index);

    // Ends the box of `index` with `result`, from any thread. Before the box
    // exists the request is remembered; after the box ended it does nothing.
    void RequestEnd(uint32_t index, INT_PTR result);

private:
    enum class BoxState { kNotOpen, kOpen, kClosed };
    struct Entry {
        std::vector<uint32_t> commandIds;
        std::vector<CommandHandler> handlers;  // parallel to commandIds
        HWND window = nullptr;
        BoxState state = BoxState::kNotOpen;
        bool endRequested = false;
        INT_PTR endResult = 0;
    };

    DialogRegistry() = default;
    void ReleaseOpening();

    platform::CriticalSection lock_;         // guards everything below
    platform::CriticalSection openingLock_;  // held while a box is being created
    std::vector<Entry> entries_;
    uint32_t openingIndex_ = 0;
    bool openingHeld_ = false;
    DWORD openingThread_ = 0;
};
