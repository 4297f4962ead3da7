#include "driver/registry_bootstrap.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "driver/decimal_text.h"
#include "platform/debug.h"
#include "settings/reg_key_handler.h"

namespace {

constexpr DWORD kModulePathRoom = 256;
constexpr int kVersionChars = 8;

// The game client's module when the updater runs inside it, else our own exe.
std::string ExecutablePath() {
    HMODULE module = ::GetModuleHandleA("Game.EXE");
    char path[kModulePathRoom + 1] = {};
    DWORD length = ::GetModuleFileNameA(module, path, kModulePathRoom);
    if (length > kModulePathRoom) length = kModulePathRoom;
    return std::string(path, length);
}

}  // namespace

std::string DirectoryOfPath(const std::string& path) {
    size_t cut = path.rfind('\\');
    if (cut == std::string::npos || cut == 0) return std::string();
    return path.substr(0, cut);
}

void BootstrapRegistry() {
    if (settings.Open(HKEY_CURRENT_USER, kSettingsKey)) return;
    platform::OutputDebugStringA(kCreatingRegistryTrace);
    // A key that cannot be created leaves every later read at its default.
    settings.Create(HKEY_CURRENT_USER, kSettingsKey);
    WriteFirstRunDefaults(settings);
    settings.WriteProfileStringA("Path", DirectoryOfPath(ExecutablePath()).c_str());
}

bool CopyVersionToRegistry() {
    FILE* file = std::fopen(kVersionFile, "rb");
    if (file == nullptr) return false;
    char text[kVersionChars + 1] = {};
    if (std::fgets(text, sizeof text, file) == nullptr) text[0] = '\0';
    std::fclose(file);
    // At most eight characters: the value always fits 32 bits.
    settings.WriteProfileInt("Version", static_cast<uint32_t>(ParseDecimal(text)));
    return true;
}
