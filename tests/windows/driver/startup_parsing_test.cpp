// The start-up's readers of outside text: the command line, the decimal
// numbers of the install files, the list's path lines and the exe path.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "driver/app_info.h"
#include "driver/decimal_text.h"
#include "driver/install_check.h"
#include "driver/registry_bootstrap.h"
#include "driver/silent_mode.h"

TEST(SilentMode, OnlyTheExactTextIsSilent) {
    EXPECT_TRUE(IsSilentCommandLine("Amber Kite"));
    for (const char* other :
         {"", "Amber Kite ", " Amber Kite", "amber kite", "Amber  Kite", "\"Amber Kite\"",
          "Amber Kite\t", "Amber", "Amber Kites", "Amber KitE", "Amber Kite\r\n"})
        EXPECT_FALSE(IsSilentCommandLine(other)) << '[' << other << ']';
    EXPECT_FALSE(IsSilentCommandLine(nullptr));
}

TEST(ParseDecimal, ReadsLikeTheCLibrary) {
    EXPECT_EQ(ParseDecimal("1234\r\n"), 1234);
    EXPECT_EQ(ParseDecimal("  \t 42 bytes"), 42);
    EXPECT_EQ(ParseDecimal("+7"), 7);
    EXPECT_EQ(ParseDecimal("-15x"), -15);
    EXPECT_EQ(ParseDecimal("007"), 7);
    EXPECT_EQ(ParseDecimal("4294967295"), 4294967295LL);
}

TEST(ParseDecimal, TextWithoutDigitsIsZero) {
    for (const char* text : {"", "\r\n", "abc", "-", "+ 5", "- 5", " x12"})
        EXPECT_EQ(ParseDecimal(text), 0) << '[' << text << ']';
    EXPECT_EQ(ParseDecimal(nullptr), 0);
}

TEST(ParseDecimal, HugeNumbersSaturateInsteadOfWrapping) {
    EXPECT_EQ(ParseDecimal("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ParseDecimal("99999999999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(ParseDecimal("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ParseDecimal("-99999999999999999999999999"), std::numeric_limits<int64_t>::min());
}

TEST(CutPathLine, RemovesExactlyTheLastTwoCharacters) {
    EXPECT_EQ(CutPathLine("Data\\Game.dat\r\n"), "Data\\Game.dat");
    EXPECT_EQ(CutPathLine("END\r\n"), "END");
    // A list saved with bare LF loses the last character of every path.
    EXPECT_EQ(CutPathLine("Game.dat\n"), "Game.da");
    EXPECT_EQ(CutPathLine("END\n"), "EN");
    // Too short to hold a line end: nothing is left, nothing is read before the text.
    EXPECT_EQ(CutPathLine("\n"), "");
    EXPECT_EQ(CutPathLine(""), "");
    EXPECT_EQ(CutPathLine("\r\n"), "");
}

TEST(DirectoryOfPath, CutsAtTheLastBackslash) {
    EXPECT_EQ(DirectoryOfPath("Z:\\games\\mrl\\MirelandsUpdate.exe"), "Z:\\games\\mrl");
    EXPECT_EQ(DirectoryOfPath("C:\\Game.EXE"), "C:");
    EXPECT_EQ(DirectoryOfPath("Game.EXE"), "");
    EXPECT_EQ(DirectoryOfPath("\\Game.EXE"), "");
    EXPECT_EQ(DirectoryOfPath(""), "");
}

TEST(AppInfo, KeepsItsOwnCopyOfTheTitle) {
    AppInfo info;
    EXPECT_STREQ(info.GetTitle(), "Application");
    EXPECT_EQ(info.GetMainWindow(), nullptr);
    char title[] = "Mirelands Auto Update";
    info.SetTitle(title);
    title[0] = 'X';
    EXPECT_STREQ(info.GetTitle(), "Mirelands Auto Update");
    info.SetTitle(nullptr);
    EXPECT_STREQ(info.GetTitle(), "");
}
