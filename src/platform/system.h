// The few user-interface and file-system services that the portable download
// path needs. On Windows they are the real calls; native builds record the UI
// touches so that tests can read them, and let tests set the free space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using WindowHandle = void*;

// SetDlgItemTextA on an item of a dialog window.
void SetDlgItemTextA(WindowHandle dialog, int itemId, const char* text);
// InvalidateRect (whole client area, background not erased), then
// UpdateWindow: the window repaints at once.
void RepaintWindow(WindowHandle window);

// The window that owns error boxes shown by portable code (the updater's
// invisible main window).
void SetErrorBoxOwner(WindowHandle owner);
// A message box with a stop icon and an OK button, owned by the error box
// owner; then the process ends with exitCode (static destructors run).
[[noreturn]] void ShowErrorAndExit(const char* text, const char* caption, int exitCode);

// Free bytes on the drive of the current directory
// (GetDiskFreeSpaceA: bytes per sector x sectors per cluster x free clusters),
// false when the query fails.
bool GetCurrentDriveFreeBytes(uint64_t* freeBytes);

// What native builds recorded of the calls above, oldest first.
struct UiTouch {
    enum Kind { kSetItemText, kRepaint, kErrorBox } kind;
    WindowHandle window;
    int itemId;
    std::string text;
    std::string caption;
};
std::vector<UiTouch> TakeUiTouches();
// Native tests only: the free space to report; a negative value restores the
// real query.
void SetFreeBytesForTests(int64_t freeBytes);

}  // namespace platform
