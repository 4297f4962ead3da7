#include "driver/registry_bootstrap.h"

#include <windows.h>

#include "driver/install_files.h"
#include "platform/debug.h"
#include "settings/reg_key_handler.h"
#include "settings/registry_names.h"

namespace {

constexpr DWORD kModulePathRoom = 256;

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

void BootstrapRegistry(RegKeyHandler& handler, const char* subKey) {
    if (handler.Open(HKEY_CURRENT_USER, subKey)) return;
    platform::OutputDebugStringA(kCreatingRegistryTrace);
    // A key that cannot be created leaves every later read at its default.
    handler.Create(HKEY_CURRENT_USER, subKey);
    WriteFirstRunDefaults(handler);
    handler.WriteProfileStringA(registry_name::kPath, DirectoryOfPath(ExecutablePath()).c_str());
}

bool CopyVersionToRegistry() {
    std::optional<uint32_t> version = ReadVersionFile(kVersionFile);
    if (!version) return false;
    run::settings.WriteProfileInt(registry_name::kVersion, *version);
    return true;
}
