// Helpers for the dialog suites: waiting for a box to appear on another thread.
#pragma once

#include <windows.h>

#include <functional>

#include "ui/dialogs/dialog_registry.h"

// The static text of a plain dialog template without an id.
constexpr int kNoIdStatic = 0xFFFF;

// Polls `condition` every 10 ms for at most timeoutMs.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    DWORD start = ::GetTickCount();
    while (!condition()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(10);
    }
    return true;
}

// The box of registry entry `index` once it is initialised and visible.
inline HWND WaitForBox(uint32_t index) {
    HWND box = nullptr;
    bool shown = WaitUntil([&] {
        box = DialogRegistry::Instance().Window(index);
        return box && ::IsWindowVisible(box);
    });
    return shown ? box : nullptr;
}
