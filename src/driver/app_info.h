// The application object: the module instance, the window title and the
// invisible main window that owns every message box and modal dialog.
#pragma once

#include <windows.h>

#include <string>

class AppInfo {
public:
    // The title starts as "Application" until the entry point names the program.
    AppInfo();

    void SetInstance(HINSTANCE instance) { instance_ = instance; }
    HINSTANCE GetInstance() const { return instance_; }
    // Keeps a copy of `title` (a null title counts as empty).
    void SetTitle(const char* title);
    const char* GetTitle() const { return title_.c_str(); }
    void SetMainWindow(HWND window) { mainWindow_ = window; }
    // Null when the window could not be created: boxes then have no owner.
    HWND GetMainWindow() const { return mainWindow_; }

private:
    HINSTANCE instance_ = nullptr;
    std::string title_;
    HWND mainWindow_ = nullptr;
};

namespace run {

// Created by the entry point on first use and never destroyed; null before.
extern AppInfo* appInfo;

}  // namespace run
