// The settings key under Wine: the handler's edge cases and what a first run
// writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "driver/registry_bootstrap.h"
#include "settings/first_run_defaults.h"
#include "settings/reg_key_handler.h"

namespace {

// A key of its own under HKCU, removed before and after.
class Registry : public ::testing::Test {
protected:
    Registry() { ::RegDeleteTreeA(HKEY_CURRENT_USER, kPath); }
    ~Registry() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kPath); }
    void WriteRaw(const char* name, DWORD type, const std::string& data) {
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kPath, name, type, data.data(), DWORD(data.size()));
    }
    const char* Text(const char* name) {
        return handler.GetProfileStringA(name, "default", nullptr);
    }
    static constexpr const char* kPath = "Software\\Corvane\\MRLTest";
    RegKeyHandler handler;
};

TEST_F(Registry, TextsOf250CharactersOrMoreGiveTheDefaultUnterminatedOnesAreTerminated) {
    ASSERT_EQ(handler.Create(HKEY_CURRENT_USER, kPath), 1);
    handler.WriteProfileStringA("Fits", std::string(249, 'x').c_str());
    handler.WriteProfileStringA("TooLong", std::string(250, 'y').c_str());
    WriteRaw("Bare", REG_BINARY, "hello");
    WriteRaw("Bare250", REG_BINARY, std::string(250, 'c'));
    EXPECT_EQ(Text("Fits"), std::string(249, 'x'));
    EXPECT_STREQ(Text("TooLong"), "default");
    handler.GetProfileStringA("Missing", std::string(300, 'z').c_str(), nullptr);  // a full buffer
    EXPECT_STREQ(Text("Bare"), "hello");
    EXPECT_STREQ(Text("Bare250"), "default");
    EXPECT_EQ(Text("Fits"), Text("Bare"));  // one buffer for every text read
}

TEST_F(Registry, IntegersAreDwordsAnythingElseOrNoKeyGivesTheDefault) {
    EXPECT_EQ(handler.Open(HKEY_CURRENT_USER, kPath), 0);
    EXPECT_STREQ(Text("MRLServerIP"), "default");
    handler.WriteProfileInt("Version", 5);
    ASSERT_EQ(handler.Open(HKEY_CURRENT_USER, kPath), 0);  // written nowhere
    ASSERT_EQ(handler.Create(HKEY_CURRENT_USER, kPath), 1);
    handler.WriteProfileInt("Version", 0x12345678u);
    handler.WriteProfileStringA("Text", "1234");
    WriteRaw("Short", REG_DWORD, std::string("\x01\x00", 2));
    WriteRaw("Binary", REG_BINARY, std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(handler.GetProfileIntA("Version", 7), 0x12345678u);
    for (const char* name : {"Text", "Short", "Binary", "Missing"})
        EXPECT_EQ(handler.GetProfileIntA(name, 0xFFFFFFFFu), 0xFFFFFFFFu) << name;
}

TEST_F(Registry, AFirstRunWritesTheDefaultsOnceAndLaterRunsNothing) {
    BootstrapRegistry(handler, kPath);
    HKEY key = nullptr;
    DWORD count = 0;
    ::RegOpenKeyExA(HKEY_CURRENT_USER, kPath, 0, KEY_READ, &key);
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                       nullptr, nullptr, nullptr);
    ::RegCloseKey(key);
    EXPECT_EQ(count, 298u);
    EXPECT_STREQ(Text("AccountName"), "Guest");
    EXPECT_EQ(handler.GetProfileIntA("Music", 0) + handler.GetProfileIntA("Macro12:12b", 5), 1u);
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    EXPECT_EQ(std::string(exe).rfind(Text("Path") + std::string("\\"), 0), 0u) << exe;
    const std::vector<FirstRunDefault> order = FirstRunDefaults();
    EXPECT_EQ(order[0].name + order[6].name + order[9].name + order[33].name,
              "AccountNameProxyMacro1:1aMacro2:1a");
    handler.WriteProfileInt("Music", 0);
    RegKeyHandler later;
    BootstrapRegistry(later, kPath);
    EXPECT_EQ(later.GetProfileIntA("Music", 5), 0u);
}

}  // namespace
