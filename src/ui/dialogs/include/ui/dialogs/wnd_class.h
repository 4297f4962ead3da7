// One registered window class. Every object takes a name of its own
// ("Window Class 0", "Window Class 1", ...), so no two registrations in the
// process collide.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class WndClass {
public:
    WndClass();
    WndClass(const WndClass&) = delete;
    WndClass& operator=(const WndClass&) = delete;

    // Registers the class with `description`, or with the default one (arrow
    // cursor, application icon, black background, WndProc) when none is
    // given; the class name is always this object's own. A failed
    // registration ends the process (ExitCode::kNormalEnd).
    void Register(const WNDCLASSEXA* description);

    const char* Name() const { return name_.c_str(); }
    const WNDCLASSEXA* Description() const { return description_; }

    // Number of WndClass objects created so far in the process.
    static uint32_t Serial();

private:
    WNDCLASSEXA* description_ = nullptr;  // the registered copy; lives until exit
    std::string name_;
};
