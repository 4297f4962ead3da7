// One plain window of the dialog framework: the hidden owner of a progress
// dialog, or a test window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/dialogs/wnd_class.h"
#include "ui/dialogs/wnd_desc.h"

class Wnd {
public:
    Wnd() = default;
    Wnd(const Wnd&) = delete;
    Wnd& operator=(const Wnd&) = delete;

    // Creates the window from `description` (none: a visible overlapped
    // window of nearly the whole screen) with `windowClass` (none: a freshly
    // registered class with the default description). Returns the window
    // handle, or the last-error code when the window could not be created.
    uintptr_t Create(WndDesc* description, WndClass* windowClass);

    HWND Handle() const { return handle_; }
    const WndDesc* Desc() const { return desc_; }
    const char* ClassName() const { return className_; }

private:
    WndDesc* desc_ = nullptr;
    HWND handle_ = nullptr;
    const char* className_ = "";
};

// Window procedure of every class registered with the default description:
// closing the window ends the process (ExitCode::kNothingDone), Escape closes it.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
