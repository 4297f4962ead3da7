#include "platform/debug.h"
#include "platform/system.h"
#include "platform/time.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace platform {

uint32_t SystemTick() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec pause{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

namespace {
std::mutex g_recordLock;
std::vector<std::string> g_debugOutput;
std::vector<UiTouch> g_uiTouches;
std::atomic<WindowHandle> g_errorBoxOwner{nullptr};
std::atomic<int64_t> g_freeBytesForTests{-1};
}  // namespace

void OutputDebugStringA(const char* text) {
    std::lock_guard<std::mutex> hold(g_recordLock);
    g_debugOutput.emplace_back(text ? text : "");
    if (std::getenv("MRL_TRACE")) std::fputs(text, stderr);
}

std::vector<std::string> TakeDebugOutput() {
    std::lock_guard<std::mutex> hold(g_recordLock);
    std::vector<std::string> taken;
    taken.swap(g_debugOutput);
    return taken;
}

void SetDlgItemTextA(WindowHandle dialog, int itemId, const char* text) {
    std::lock_guard<std::mutex> hold(g_recordLock);
    g_uiTouches.push_back({UiTouch::kSetItemText, dialog, itemId, text ? text : "", ""});
}

void RepaintWindow(WindowHandle window) {
    std::lock_guard<std::mutex> hold(g_recordLock);
    g_uiTouches.push_back({UiTouch::kRepaint, window, 0, "", ""});
}

void SetErrorBoxOwner(WindowHandle owner) { g_errorBoxOwner.store(owner); }

void ShowErrorAndExit(const char* text, const char* caption, int exitCode) {
    // Natively there is no box to show: say it on stderr, which death tests
    // match against, then end like the Windows build.
    std::fprintf(stderr, "[%s] %s\n", caption, text);
    std::fflush(stderr);
    std::exit(exitCode);
}

bool GetCurrentDriveFreeBytes(uint64_t* freeBytes) {
    int64_t forced = g_freeBytesForTests.load();
    if (forced >= 0) {
        *freeBytes = uint64_t(forced);
        return true;
    }
    struct statvfs info;
    if (statvfs(".", &info) != 0) return false;
    *freeBytes = uint64_t(info.f_bavail) * info.f_frsize;
    return true;
}

std::vector<UiTouch> TakeUiTouches() {
    std::lock_guard<std::mutex> hold(g_recordLock);
    std::vector<UiTouch> taken;
    taken.swap(g_uiTouches);
    return taken;
}

void SetFreeBytesForTests(int64_t freeBytes) { g_freeBytesForTests.store(freeBytes); }

}  // namespace platform
