// One open registry key with profile-style reads and writes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "export/mrl_export.h"

class MRL_EXPORT RegKeyHandler {
public:
    RegKeyHandler();
    virtual ~RegKeyHandler();
    RegKeyHandler(const RegKeyHandler&) = delete;
    RegKeyHandler& operator=(const RegKeyHandler&) = delete;

    // Both close the key open before; `subKey` is kept, not copied.
    // 1 on success, 0 on failure (no key is open then).
    int Open(HKEY root, const char* subKey);
    int Create(HKEY root, const char* subKey);
    // Writes do nothing when no key is open; their status is not reported.
    void WriteProfileStringA(const char* name, const char* value);
    void WriteProfileInt(const char* name, uint32_t value);
    // Reads into the handler's own 256-byte buffer (valid until the next
    // call); a text over 249 characters, a missing value or no open key
    // give `defaultValue` (cut to the buffer). `status` receives the registry
    // status when given (0 = success).
    const char* GetProfileStringA(const char* name, const char* defaultValue, int32_t* status);
    // A 4-byte REG_DWORD value; anything else, or none, gives `defaultValue`.
    uint32_t GetProfileIntA(const char* name, uint32_t defaultValue);

private:
    const char* subKey_ = nullptr;
    HKEY root_ = nullptr;
    HKEY key_ = nullptr;
    char text_[256] = {};
};

namespace run {

// The settings of the updater: "Software\Corvane\MRL" under the current user.
extern RegKeyHandler settings;

}  // namespace run
constexpr const char* kSettingsKey = "Software\\Corvane\\MRL";

// Writes the first-run defaults in their fixed order (without "Path").
void WriteFirstRunDefaults(RegKeyHandler& handler);
