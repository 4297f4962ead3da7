#include "settings/reg_key_handler.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Registry text data of at most 250 bytes is taken; the value's text is then
// at most 249 characters and its terminator.
constexpr DWORD kTextCapacity = 250;

// Helpers outside the class, so that the exported members stay the public ones.
void CloseKey(HKEY& key) {
    if (key) RegCloseKey(key);
    key = nullptr;
}

LONG ReadText(HKEY key, const char* name, char (&text)[256]) {
    if (!key) return ERROR_INVALID_HANDLE;
    DWORD size = kTextCapacity;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    if (result != ERROR_SUCCESS) return result;
    // Data stored without its terminator comes back without one: terminate
    // it here, and refuse a text that fills all 250 bytes (250 characters
    // are one too many).
    if (size > kTextCapacity) size = kTextCapacity;
    text[size] = '\0';
    if (std::strlen(text) >= kTextCapacity) return ERROR_MORE_DATA;
    return ERROR_SUCCESS;
}

}  // namespace

RegKeyHandler run::settings;

RegKeyHandler::RegKeyHandler() = default;

RegKeyHandler::~RegKeyHandler() { CloseKey(key_); }

int RegKeyHandler::Open(HKEY root, const char* subKey) {
    CloseKey(key_);
    root_ = root;
    subKey_ = subKey;
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS) return 0;
    key_ = opened;
    return 1;
}

int RegKeyHandler::Create(HKEY root, const char* subKey) {
    // A key still open would otherwise leak its handle.
    CloseKey(key_);
    root_ = root;
    subKey_ = subKey;
    HKEY created = nullptr;
    char emptyClass[] = "";
    DWORD disposition = 0;
    if (RegCreateKeyExA(root, subKey, 0, emptyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &created, &disposition) != ERROR_SUCCESS) {
        return 0;
    }
    key_ = created;
    return 1;
}

void RegKeyHandler::WriteProfileStringA(const char* name, const char* value) {
    if (!key_) return;
    RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value)));
}

void RegKeyHandler::WriteProfileInt(const char* name, uint32_t value) {
    if (!key_) return;
    const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                          static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    RegSetValueExA(key_, name, 0, REG_DWORD, data, sizeof data);
}

const char* RegKeyHandler::GetProfileStringA(const char* name, const char* defaultValue,
                                             int32_t* status) {
    const LONG result = ReadText(key_, name, text_);
    if (status) *status = static_cast<int32_t>(result);
    if (result != ERROR_SUCCESS) {
        // Cut to the buffer: a default text never overruns it.
        std::snprintf(text_, sizeof text_, "%s", defaultValue ? defaultValue : "");
    }
    return text_;
}

uint32_t RegKeyHandler::GetProfileIntA(const char* name, uint32_t defaultValue) {
    if (!key_) return defaultValue;
    DWORD size = kTextCapacity;
    if (RegQueryValueExA(key_, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return defaultValue;
    }
    std::vector<BYTE> data(size > 0 ? size : 1);
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key_, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
        return defaultValue;
    }
    // Only a 4-byte REG_DWORD is an integer; anything else reads as absent.
    if (type != REG_DWORD || size != 4) return defaultValue;
    return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}
