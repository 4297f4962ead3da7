// The few user-interface and file-system services that the portable download
// path needs. On Windows they are the real calls; native builds have no
// windows, so the UI calls do nothing there.
#pragma once

#include <cstdint>

namespace platform {

using WindowHandle = void*;

// SetDlgItemTextA on an item of a dialog window.
void SetDlgItemTextA(WindowHandle dialog, int itemId, const char* text);
// InvalidateRect (whole client area, background not erased), then
// UpdateWindow: the window repaints at once.
void RepaintWindow(WindowHandle window);

// Free bytes on the drive of the current directory
// (GetDiskFreeSpaceA: bytes per sector x sectors per cluster x free clusters),
// false when the query fails.
bool GetCurrentDriveFreeBytes(uint64_t* freeBytes);

}  // namespace platform
