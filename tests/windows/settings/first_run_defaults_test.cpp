#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "settings/first_run_defaults.h"
#include "settings/reg_key_handler.h"
#include "test_key.h"

namespace {

TEST(FirstRunDefaults, ComeInTheirFixedOrder) {
    const std::vector<FirstRunDefault> values = FirstRunDefaults();
    ASSERT_EQ(values.size(), 297u);
    const char* head[] = {"AccountName",  "AccountPassword", "Music",  "SoundFX", "GamaCorrection",
                          "SavePassword", "Proxy",           "Dither", "OnlyBox"};
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(values[i].name, head[i]) << i;
    EXPECT_EQ(values[9].name, "Macro1:1a");
    EXPECT_EQ(values[10].name, "Macro1:1b");
    EXPECT_EQ(values[11].name, "Macro1:2a");
    EXPECT_EQ(values[32].name, "Macro1:12b");
    EXPECT_EQ(values[33].name, "Macro2:1a");
    EXPECT_EQ(values[296].name, "Macro12:12b");

    std::set<std::string> names;
    for (const FirstRunDefault& value : values) names.insert(value.name);
    EXPECT_EQ(names.size(), values.size());
    EXPECT_EQ(names.count("Path"), 0u);
}

TEST(FirstRunDefaults, AreWrittenWithTheirTypesAndValues) {
    TestKey key;
    RegKeyHandler handler;
    ASSERT_EQ(handler.Create(HKEY_CURRENT_USER, key.Path()), 1);
    WriteFirstRunDefaults(handler);

    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.Path(), 0, KEY_READ, &raw), ERROR_SUCCESS);
    std::map<std::string, std::pair<DWORD, std::string>> stored;
    for (DWORD index = 0;; ++index) {
        char name[64];
        DWORD nameSize = sizeof name;
        BYTE data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(raw, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        stored[name] = {type, std::string(reinterpret_cast<char*>(data), dataSize)};
    }
    RegCloseKey(raw);

    ASSERT_EQ(stored.size(), 297u);
    for (const FirstRunDefault& value : FirstRunDefaults()) {
        SCOPED_TRACE(value.name);
        ASSERT_EQ(stored.count(value.name), 1u);
        const auto& [type, data] = stored[value.name];
        if (value.isText) {
            EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
            EXPECT_STREQ(data.c_str(), value.text.c_str());
        } else {
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
            const char expected[4] = {static_cast<char>(value.number), 0, 0, 0};
            EXPECT_EQ(data, std::string(expected, 4));
        }
    }
    EXPECT_STREQ(handler.GetProfileStringA("AccountName", "", nullptr), "Guest");
    EXPECT_EQ(handler.GetProfileIntA("Music", 0), 1u);
    EXPECT_EQ(handler.GetProfileIntA("Macro12:12b", 5), 0u);
    EXPECT_EQ(handler.GetProfileIntA("Proxy", 5), 0u);
}

}  // namespace
