#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/reg_key_handler.h"
#include "test_key.h"

namespace {

class RegKeyHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(handler_.Create(HKEY_CURRENT_USER, key_.Path()), 1); }

    TestKey key_;
    RegKeyHandler handler_;
};

TEST_F(RegKeyHandlerTest, TextsUpTo249CharactersReadBackLongerOnesGiveTheDefault) {
    const std::string fits(249, 'x');
    const std::string tooLong(250, 'y');
    handler_.WriteProfileStringA("Fits", fits.c_str());
    handler_.WriteProfileStringA("TooLong", tooLong.c_str());
    handler_.WriteProfileStringA("Empty", "");

    int32_t status = -1;
    EXPECT_EQ(std::string(handler_.GetProfileStringA("Fits", "default", &status)), fits);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(handler_.GetProfileStringA("TooLong", "default", &status), "default");
    EXPECT_NE(status, 0);
    EXPECT_STREQ(handler_.GetProfileStringA("Empty", "default", &status), "");
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(handler_.GetProfileStringA("Missing", "Not Found", &status), "Not Found");
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(handler_.GetProfileStringA("Fits", "default", nullptr), fits.c_str());
}

TEST_F(RegKeyHandlerTest, TextsAreStoredAsRegSzAndReadBackTerminated) {
    handler_.WriteProfileStringA("Server", "abc");
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(key_.ReadRaw("Server", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(data.c_str(), "abc");

    // Text data without a terminator (as a length without the NUL stores it,
    // and as any other program may store it) still reads as a text.
    key_.WriteRaw("Bare", REG_BINARY, "hello!!!", 5);
    // Fill the buffer first, so that a missing terminator would show.
    handler_.GetProfileStringA("Missing", "zzzzzzzzzzzzzzzz", nullptr);
    EXPECT_STREQ(handler_.GetProfileStringA("Bare", "default", nullptr), "hello");
    // Unterminated data filling all 250 bytes would leave no room: default.
    key_.WriteRaw("Bare249", REG_BINARY, std::string(249, 'b').data(), 249);
    key_.WriteRaw("Bare250", REG_BINARY, std::string(250, 'c').data(), 250);
    EXPECT_EQ(std::string(handler_.GetProfileStringA("Bare249", "default", nullptr)),
              std::string(249, 'b'));
    EXPECT_STREQ(handler_.GetProfileStringA("Bare250", "default", nullptr), "default");
}

TEST_F(RegKeyHandlerTest, LongDefaultsAreCutToTheBuffer) {
    const std::string longDefault(1000, 'd');
    const char* text = handler_.GetProfileStringA("Missing", longDefault.c_str(), nullptr);
    EXPECT_EQ(std::string(text), std::string(255, 'd'));
}

TEST_F(RegKeyHandlerTest, TextResultsShareOneBuffer) {
    handler_.WriteProfileStringA("First", "one");
    handler_.WriteProfileStringA("Second", "two");
    const char* first = handler_.GetProfileStringA("First", "", nullptr);
    const char* second = handler_.GetProfileStringA("Second", "", nullptr);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "two");
}

TEST_F(RegKeyHandlerTest, IntegersAreFourByteDwordsLeastSignificantByteFirst) {
    handler_.WriteProfileInt("Version", 0x12345678u);
    handler_.WriteProfileInt("Max", 0xFFFFFFFFu);
    EXPECT_EQ(handler_.GetProfileIntA("Version", 7), 0x12345678u);
    EXPECT_EQ(handler_.GetProfileIntA("Max", 7), 0xFFFFFFFFu);

    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(key_.ReadRaw("Version", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, std::string("\x78\x56\x34\x12", 4));
}

TEST_F(RegKeyHandlerTest, IntegerReadsOfAnythingButADwordGiveTheDefault) {
    const uint32_t kDefault = 0xFFFFFFFFu;  // "Version" is read with -1
    handler_.WriteProfileStringA("Text", "1234");
    key_.WriteRaw("Binary", REG_BINARY, "\x01\x00\x00\x00", 4);
    key_.WriteRaw("Short", REG_DWORD, "\x01\x00", 2);
    key_.WriteRaw("Long", REG_BINARY, std::string(300, '\x01').data(), 300);
    EXPECT_EQ(handler_.GetProfileIntA("Text", kDefault), kDefault);
    EXPECT_EQ(handler_.GetProfileIntA("Binary", kDefault), kDefault);
    EXPECT_EQ(handler_.GetProfileIntA("Short", kDefault), kDefault);
    EXPECT_EQ(handler_.GetProfileIntA("Long", kDefault), kDefault);
    EXPECT_EQ(handler_.GetProfileIntA("Missing", kDefault), kDefault);
}

TEST_F(RegKeyHandlerTest, CreateOpensAnExistingKeyWithItsValues) {
    handler_.WriteProfileInt("Proxy", 1);
    RegKeyHandler again;
    ASSERT_EQ(again.Create(HKEY_CURRENT_USER, key_.Path()), 1);
    EXPECT_EQ(again.GetProfileIntA("Proxy", 0), 1u);
}

TEST_F(RegKeyHandlerTest, OpenClosesTheKeyOpenBefore) {
    TestKey other;
    RegKeyHandler creator;
    ASSERT_EQ(creator.Create(HKEY_CURRENT_USER, other.Path()), 1);

    ASSERT_EQ(handler_.Open(HKEY_CURRENT_USER, other.Path()), 1);
    handler_.WriteProfileInt("Where", 2);
    EXPECT_TRUE(other.Exists("Where"));
    EXPECT_FALSE(key_.Exists("Where"));

    // A failed Open leaves no key open: reads give defaults, writes go nowhere.
    const std::string missing = std::string(key_.Path()) + "\\Missing";
    EXPECT_EQ(handler_.Open(HKEY_CURRENT_USER, missing.c_str()), 0);
    EXPECT_EQ(handler_.GetProfileIntA("Where", 9), 9u);
    handler_.WriteProfileInt("Lost", 3);
    EXPECT_FALSE(other.Exists("Lost"));
    EXPECT_FALSE(key_.Exists("Lost"));
}

TEST(RegKeyHandlerNoKey, ReadsGiveDefaultsAndWritesDoNothing) {
    TestKey key;
    RegKeyHandler handler;
    int32_t status = 0;
    EXPECT_STREQ(handler.GetProfileStringA("MRLServerIP", "Not Found", &status), "Not Found");
    EXPECT_NE(status, 0);
    EXPECT_EQ(handler.GetProfileIntA("Version", 0xFFFFFFFFu), 0xFFFFFFFFu);
    handler.WriteProfileStringA("MRLServerIP", "somewhere");
    handler.WriteProfileInt("Version", 5);
    EXPECT_FALSE(key.Exists("Version"));
    // The program's own instance starts the same way.
    EXPECT_EQ(settings.GetProfileIntA("Proxy Value", 3), 3u);
}

}  // namespace
