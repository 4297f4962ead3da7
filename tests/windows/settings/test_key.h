// A registry key of its own under HKCU for each test, removed afterwards.
#pragma once

#include <windows.h>

#include <string>

class TestKey {
public:
    TestKey();
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    const char* Path() const { return path_.c_str(); }
    // Reads a value straight from the registry, past the handler.
    bool ReadRaw(const char* name, DWORD* type, std::string* data) const;
    bool Exists(const char* name) const;
    void WriteRaw(const char* name, DWORD type, const void* data, DWORD size) const;

private:
    std::string path_;
};
