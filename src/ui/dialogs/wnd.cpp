#include "ui/dialogs/wnd.h"

#include <cstdlib>

#include "platform/process_end.h"

namespace {
constexpr DWORD kDefaultStyle = 0x10CF0000;  // overlapped window, visible
}

uintptr_t Wnd::Create(WndDesc* description, WndClass* windowClass) {
    if (!windowClass) {
        // Never released: framework classes live until the process ends.
        windowClass = new WndClass();
        windowClass->Register(nullptr);
    }
    className = windowClass->Name();
    if (description) {
        if (!description->className) description->className = className;
        desc = description;
    } else {
        desc = new WndDesc();
        desc->className = className;
        desc->title = "Test App";
        desc->style = kDefaultStyle;
        desc->x = 100;
        desc->y = 100;
        desc->width = ::GetSystemMetrics(SM_CXSCREEN) - 200;
        desc->height = ::GetSystemMetrics(SM_CYSCREEN) - 200;
    }
    handle = ::CreateWindowExA(0, desc->className, desc->title, desc->style, desc->x, desc->y,
                               desc->width, desc->height, desc->parent, desc->menu, desc->instance,
                               desc->parameter);
    if (!handle) return ::GetLastError();
    return reinterpret_cast<uintptr_t>(handle);
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            platform::Terminate(ExitCode::kNothingDone);
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) ::PostMessageA(window, WM_CLOSE, 0, 0);
            break;
        default:
            break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}
