// Formats from the install's text table are used only when they take the
// arguments the program passes.
#include <gtest/gtest.h>

#include <string>

#include "ui/message_format.h"

TEST(FormatFitsArguments, AcceptsConversionsThatMatchInOrder) {
    EXPECT_TRUE(FormatFitsArguments("File %s (%s): %u bytes, expected %s", "ssus"));
    EXPECT_TRUE(FormatFitsArguments("%-20s|%5.2s|%08u|%lu|%x", "ssuuu"));
    EXPECT_TRUE(FormatFitsArguments("100%% sure: %s", "s"));
    EXPECT_TRUE(FormatFitsArguments("no conversion at all", "ssus"));
    EXPECT_TRUE(FormatFitsArguments("only the first %s", "ssus"));
    EXPECT_TRUE(FormatFitsArguments("%s %.1f%c of %.1f%c", "sfcfc"));
}

TEST(FormatFitsArguments, RefusesWhatWouldReadTheWrongArgument) {
    EXPECT_FALSE(FormatFitsArguments("%s %s %s %s %s", "ssus"));  // one too many
    EXPECT_FALSE(FormatFitsArguments("%d bytes", "s"));           // number for a text
    EXPECT_FALSE(FormatFitsArguments("%s %s %s", "ssus"));        // text for a number
    EXPECT_FALSE(FormatFitsArguments("%n", "s"));
    EXPECT_FALSE(FormatFitsArguments("%s%n", "ss"));
    EXPECT_FALSE(FormatFitsArguments("%*s", "s"));
    EXPECT_FALSE(FormatFitsArguments("%.*s", "s"));
    EXPECT_FALSE(FormatFitsArguments("%1$s", "s"));
    EXPECT_FALSE(FormatFitsArguments("%s %s %llu", "ssu"));
    EXPECT_FALSE(FormatFitsArguments("%s %s %I64u", "ssu"));
    EXPECT_FALSE(FormatFitsArguments("%ls", "s"));
    EXPECT_FALSE(FormatFitsArguments("trailing %", "s"));
    EXPECT_FALSE(FormatFitsArguments(nullptr, "s"));
}

TEST(FormatMessageText, FillsTheFormatOrFallsBack) {
    EXPECT_EQ(FormatMessageText("%s is %u bytes", "fallback %s", "su", "a.dat", 12u),
              "a.dat is 12 bytes");
    EXPECT_EQ(FormatMessageText("%s is %s", "fallback %s", "su", "a.dat", 12u), "fallback a.dat");
}

TEST(FormatMessageText, CutsTheOutputAt1024Characters) {
    std::string longPath(3000, 'p');
    std::string text = FormatMessageText("<%s>", "%s", "s", longPath.c_str());
    EXPECT_EQ(text.size(), 1024u);
    EXPECT_EQ(text.substr(0, 2), "<p");
}
