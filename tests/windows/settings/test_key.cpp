#include "test_key.h"

#include <gtest/gtest.h>

namespace {

int nextKey = 0;

}  // namespace

TestKey::TestKey()
    : path_("Software\\Corvane\\MRLTest" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++nextKey)) {
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
}

TestKey::~TestKey() { RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); }

bool TestKey::ReadRaw(const char* name, DWORD* type, std::string* data) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        data->assign(size, '\0');
        result =
            RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(&(*data)[0]), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool TestKey::Exists(const char* name) const {
    DWORD type = 0;
    std::string data;
    return ReadRaw(name, &type, &data);
}

void TestKey::WriteRaw(const char* name, DWORD type, const void* data, DWORD size) const {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}
