// Names a peer chooses for files we create on Windows.
#include "names/windows_names.h"

#include <gtest/gtest.h>

#include "names/patch_path.h"

namespace {

TEST(WindowsNames, DevicesReservedBytesAndTrailingDotsAreRefused) {
    for (const char* good :
         {"p1to2.rtp", "PATCH.EXE", "a..b", ".hidden", " lead", "COM10", "LPT", "COMA",
          "console.log", "nul_", "conin", "CONOUT$x", "\xc3\xa9t\xc3\xa9.txt", "COM\xc2\xb4",
          "a~b.txt", "v~.1", "x.tar~1", "a.mrlpatch-old.txt", "mrlpatch-journal"})
        EXPECT_TRUE(IsSafeWindowsName(good)) << good;
    for (const char* bad : {"",
                            ".",
                            "..",
                            "a/b",
                            "a\\b",
                            "C:x",
                            "a:stream",
                            "a<",
                            "a>",
                            "a\"",
                            "a|",
                            "a?",
                            "a*",
                            "\x01x",
                            "x\x1f",
                            "x\x7f",
                            "trail.",
                            "trail ",
                            "CON",
                            "prn",
                            "Aux.rtp",
                            "nul.tar.gz",
                            "NUL .txt",
                            "com1",
                            "COM9.dat",
                            "lpt5",
                            "COM0",
                            "LPT0",
                            "CONIN$",
                            "conout$.log",
                            "COM\xb9",
                            "lpt\xc2\xb3.txt",
                            ".mrlpatch-journal",
                            "x.MRLPATCH-OLD",
                            "Game.exe.mrlpatch-new",
                            "PATCHW32.dll.Mrlpatch-Gone",
                            "PROGRA~1",
                            "GAMEDA~1.EXE",
                            "~12"})
        EXPECT_FALSE(IsSafeWindowsName(bad)) << bad;
    EXPECT_FALSE(IsSafeWindowsName(std::string_view("a\0b", 3)));
}

// Two names Windows takes for one file fold to the same form, in any script.
TEST(WindowsNames, NamesDifferingOnlyInCaseFoldAlike) {
    const std::pair<const char*, const char*> same[] = {
        {"Data/README.TXT", "data/readme.txt"},
        {"\xc3\x89T\xc3\x89", "\xc3\xa9t\xc3\xa9"},                                // ÉTÉ, été
        {"\xce\xa3\xce\x8a\xce\xa3", "\xcf\x83\xce\xaf\xcf\x82"},                  // ΣΊΣ, σίς
        {"\xd0\x98\xd0\x93\xd0\xa0\xd0\x90", "\xd0\xb8\xd0\xb3\xd1\x80\xd0\xb0"},  // ИГРА, игра
        {"\xef\xbc\xa1", "\xef\xbd\x81"},   // fullwidth Ａ, ａ
        {"\xc5\xb8", "\xc3\xbf"},           // Ÿ, ÿ
        {"\xe1\x8e\xa0", "\xea\xad\xb0"}};  // Cherokee Ꭰ, ꭰ
    for (const auto& [a, b] : same)
        EXPECT_EQ(patchlib::PatchPath::FoldCase(a), patchlib::PatchPath::FoldCase(b)) << a;
    const std::pair<const char*, const char*> different[] = {
        {"a", "b"}, {"\xc3\xa9", "e"}, {"\xc3\x9f", "ss"}};
    for (const auto& [a, b] : different)
        EXPECT_NE(patchlib::PatchPath::FoldCase(a), patchlib::PatchPath::FoldCase(b)) << a;
}

}  // namespace
