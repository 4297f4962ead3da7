#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "ui/default_texts.h"
#include "ui/language_file.h"

namespace {

class LanguageFile : public ::testing::Test {
protected:
    void TearDown() override { CloseLanguageFile(); }

    void Open(const std::string& contents) {
        dir_.WriteFile("Language.Txt", contents);
        ASSERT_TRUE(OpenLanguageFile());
    }

    TempDir dir_;
};

// The printf conversions of a format, e.g. "%s %.1f" gives "sf".
std::string Conversions(const char* format) {
    std::string kinds;
    for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p, '%')) {
        ++p;
        if (*p == '%') {
            ++p;
            continue;
        }
        while (*p && std::strchr("0123456789.-+ #lh", *p)) ++p;
        kinds += *p;
    }
    return kinds;
}

TEST_F(LanguageFile, NumbersCountOnlyTextLines) {
    Open("first\r\n* a comment\r\n\r\n\n  * indented, so a text\r\nsecond\n*\n");
    EXPECT_STREQ(GetLanguageText(1), "first");
    EXPECT_STREQ(GetLanguageText(2), "  * indented, so a text");
    EXPECT_STREQ(GetLanguageText(3), "second");
    // Every lookup starts from the top again.
    EXPECT_STREQ(GetLanguageText(1), "first");
}

TEST_F(LanguageFile, TextsLoseUnderscoresAndEndAtFirstLineBreak) {
    Open("Hello_World_\r\n___\r\nab\rcd\r\nbare_lf\nlast_line_without_end");
    EXPECT_STREQ(GetLanguageText(1), "HelloWorld");
    EXPECT_STREQ(GetLanguageText(2), "");  // underscore-only: empty, but it counts
    EXPECT_STREQ(GetLanguageText(3), "ab");
    EXPECT_STREQ(GetLanguageText(4), "barelf");
    EXPECT_STREQ(GetLanguageText(5), "lastlinewithoutend");
}

TEST_F(LanguageFile, LinesAreBoundedAt4999Bytes) {
    const std::string fits(4999, 'a');
    const std::string tooLong = std::string(4999, 'b') + "c";
    Open(fits + "\n" + tooLong + "\r\nnext\r\n");
    EXPECT_EQ(std::string(GetLanguageText(1)), fits);  // its LF then reads as a blank line
    EXPECT_EQ(std::string(GetLanguageText(2)), std::string(4999, 'b'));
    EXPECT_STREQ(GetLanguageText(3), "c");
    EXPECT_STREQ(GetLanguageText(4), "next");
}

TEST_F(LanguageFile, NumbersPastTheEndGiveTheLastTextLine) {
    Open("one\r\n*\r\nlast_one");
    EXPECT_STREQ(GetLanguageText(2), "lastone");
    EXPECT_STREQ(GetLanguageText(3), "lastone");
    EXPECT_STREQ(GetLanguageText(INT_MAX), "lastone");
    EXPECT_STREQ(GetLanguageText(1), "one");
}

TEST_F(LanguageFile, NumbersPastTheEndOfAFileEndingInACommentOrBlankAreEmpty) {
    Open("one\r\ntwo\r\n* the end\r\n");
    EXPECT_STREQ(GetLanguageText(2), "two");
    EXPECT_STREQ(GetLanguageText(3), "");
    EXPECT_STREQ(GetLanguageText(INT_MAX), "");

    CloseLanguageFile();
    Open("one\r\n\r\n");
    EXPECT_STREQ(GetLanguageText(2), "");

    CloseLanguageFile();
    Open("");
    EXPECT_STREQ(GetLanguageText(1), "");
}

TEST_F(LanguageFile, NumbersBelowOneAreEmpty) {
    Open("one\r\n");
    EXPECT_STREQ(GetLanguageText(1), "one");
    EXPECT_STREQ(GetLanguageText(0), "");
    EXPECT_STREQ(GetLanguageText(-5), "");
}

TEST_F(LanguageFile, ALookupOverwritesTheResultOfTheLastOne) {
    Open("one\r\ntwo\r\n");
    const char* first = GetLanguageText(1);
    const char* second = GetLanguageText(2);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "two");
}

TEST_F(LanguageFile, MissingFileGivesBuiltInTexts) {
    ASSERT_FALSE(OpenLanguageFile());
    for (int number : {51, 78, 79, 80, 81, 82, 85, 94, 183, 184, 187}) {
        const char* builtIn = GetDefaultLanguageText(number);
        ASSERT_NE(builtIn, nullptr) << number;
        EXPECT_STRNE(builtIn, "") << number;
        EXPECT_STREQ(GetLanguageText(number), builtIn) << number;
    }
    EXPECT_STREQ(GetLanguageText(1), "");
    EXPECT_STREQ(GetLanguageText(186), "");
}

TEST_F(LanguageFile, ClosedTableFallsBackToBuiltInTexts) {
    Open("only one\r\n");
    CloseLanguageFile();
    EXPECT_STREQ(GetLanguageText(85), GetDefaultLanguageText(85));
}

// The callers fill exactly these conversions; a built-in text with another
// set would read arguments that are not there.
TEST(DefaultTexts, CarryExactlyTheConversionsTheirCallersFill) {
    for (int number : {51, 78, 79, 80, 81, 82, 85, 183}) {
        EXPECT_EQ(Conversions(GetDefaultLanguageText(number)), "") << number;
    }
    EXPECT_EQ(Conversions(GetDefaultLanguageText(94)), "u");
    EXPECT_EQ(Conversions(GetDefaultLanguageText(184)), "sfcfc");
    // Formatted with one argument and with four: only the first may be used.
    EXPECT_EQ(Conversions(GetDefaultLanguageText(187)), "s");

    char line[100];
    std::snprintf(line, sizeof line, GetDefaultLanguageText(184), "3to4.rtp", 1.5, 'M', 2.0, 'M');
    EXPECT_STREQ(line, "3to4.rtp: 1.5 M of 2.0 M");
}

TEST(DefaultTexts, FitTheBuffersTheyAreCopiedInto) {
    for (int number = 1; number <= kHighestTextNumber; ++number) {
        const char* text = GetDefaultLanguageText(number);
        if (!text) continue;
        EXPECT_EQ(std::strchr(text, '_'), nullptr) << number;  // the table would drop it
        EXPECT_EQ(std::strpbrk(text, "\r\n"), nullptr) << number;
        EXPECT_NE(text[0], '*') << number;
    }
    for (int number = 78; number <= 82; ++number) {
        EXPECT_LE(std::strlen(GetDefaultLanguageText(number)), 999u);
    }
    EXPECT_LE(std::strlen(GetDefaultLanguageText(80)), 99u);
    EXPECT_LE(std::strlen(GetDefaultLanguageText(82)), 499u);
}

TEST_F(LanguageFile, WrittenDefaultFileHoldsTheBuiltInTextsAtTheirNumbers) {
    ASSERT_TRUE(WriteDefaultLanguageFile("Language.Txt"));
    ASSERT_TRUE(OpenLanguageFile());
    for (int number = 1; number <= kHighestTextNumber; ++number) {
        const char* builtIn = GetDefaultLanguageText(number);
        const std::string expected = builtIn ? builtIn : "Text " + std::to_string(number);
        EXPECT_EQ(std::string(GetLanguageText(number)), expected) << number;
    }
    EXPECT_STREQ(GetLanguageText(kHighestTextNumber + 1),
                 GetDefaultLanguageText(kHighestTextNumber));
}

}  // namespace
