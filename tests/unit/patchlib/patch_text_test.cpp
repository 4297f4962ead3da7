// The command line of the DLL's entry and the path rule of the format.
#include <gtest/gtest.h>

#include "patch_command.h"
#include "patch_path.h"

namespace {

using patchlib::PatchCommand;
using patchlib::PatchCommandParser;
using patchlib::PatchPath;

TEST(PatchCommand, TakesEverythingBeforeTheLastSwitchAsTheFileName) {
    PatchCommand command;
    ASSERT_TRUE(PatchCommandParser::Parse("12to11.rtp -u", command));
    EXPECT_EQ(command.patchFile, "12to11.rtp");
    EXPECT_TRUE(command.apply);
    ASSERT_TRUE(PatchCommandParser::Parse("my patch -u file.rtp -u", command));
    EXPECT_EQ(command.patchFile, "my patch -u file.rtp");
    ASSERT_TRUE(PatchCommandParser::Parse("\"with quotes.rtp\" -u", command));
    EXPECT_EQ(command.patchFile, "with quotes.rtp");
    ASSERT_TRUE(PatchCommandParser::Parse("  padded.rtp   -u  ", command));
    EXPECT_EQ(command.patchFile, "padded.rtp");
}

TEST(PatchCommand, RefusesAMissingNameOrSwitch) {
    PatchCommand command;
    EXPECT_FALSE(PatchCommandParser::Parse(nullptr, command));
    EXPECT_FALSE(PatchCommandParser::Parse("", command));
    EXPECT_FALSE(PatchCommandParser::Parse("-u", command));
    EXPECT_FALSE(PatchCommandParser::Parse(" -u", command));
    EXPECT_FALSE(PatchCommandParser::Parse("\"\" -u", command));
    EXPECT_FALSE(PatchCommandParser::Parse("patch.rtp", command));
    EXPECT_FALSE(PatchCommandParser::Parse("patch.rtp -x", command));
    EXPECT_FALSE(PatchCommandParser::Parse("patch.rtp-u", command));
}

TEST(PatchPath, AcceptsPlainRelativePaths) {
    for (const char* path :
         {"a", "data/maps/north.map", "Mirelands.exe", "a b/c d.txt", "x..y", ".hidden",
          "\xc3\xa9t\xc3\xa9/caf\xc3\xa9.txt", "COM10", "console.log"})
        EXPECT_TRUE(PatchPath::IsSafe(path)) << path;
}

TEST(PatchPath, RefusesAnythingThatCouldLeaveTheDirectory) {
    for (const char* path : {"",
                             "/etc/passwd",
                             "../x",
                             "a/../../x",
                             "a/..",
                             "..",
                             ".",
                             "a/./b",
                             "a//b",
                             "a/",
                             "C:/Windows/x",
                             "C:x",
                             "a\\..\\x",
                             "\\\\server\\share",
                             "a:stream",
                             "con",
                             "data/NUL.txt",
                             "LPT1",
                             "trailing.",
                             "trailing ",
                             "tab\there",
                             "q?"})
        EXPECT_FALSE(PatchPath::IsSafe(path)) << path;
    EXPECT_FALSE(PatchPath::IsSafe(std::string("nul\0byte", 8)));
    EXPECT_FALSE(PatchPath::IsSafe(std::string(2000, 'a')));
}

}  // namespace
