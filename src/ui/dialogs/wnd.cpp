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
    className_ = windowClass->Name();
    if (description) {
        if (!description->className) description->className = className_;
        desc_ = description;
    } else {
        desc_ = new WndDesc();
        desc_->className = className_;
        desc_->title = "Test App";
        desc_->style = kDefaultStyle;
        desc_->x = 100;
        desc_->y = 100;
        desc_->width = ::GetSystemMetrics(SM_CXSCREEN) - 200;
        desc_->height = ::GetSystemMetrics(SM_CYSCREEN) - 200;
    }
    handle_ = ::CreateWindowExA(0, desc_->className, desc_->title, desc_->style, desc_->x, desc_->y,
                                desc_->width, desc_->height, desc_->parent, desc_->menu,
                                desc_->instance, desc_->parameter);
    if (!handle_) return ::GetLastError();
    return reinterpret_cast<uintptr_t>(handle_);
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
