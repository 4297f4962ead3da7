// The creation parameters of one window, in the order CreateWindowExA takes
// them (after a reserved word that is not passed on).
#pragma once

#include <windows.h>

#include <cstdint>

struct WndDesc {
    uint32_t reserved = 0;
    const char* className = nullptr;  // none: the class the window is created with
    const char* title = nullptr;
    DWORD style = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    HWND parent = nullptr;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;  // none: the program's own module
    void* parameter = nullptr;
};
