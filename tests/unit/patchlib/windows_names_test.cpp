// Names a peer chooses for files we create on Windows.
#include "names/windows_names.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsNames, DevicesReservedBytesAndTrailingDotsAreRefused) {
    for (const char* good :
         {"p1to2.rtp", "PATCH.EXE", "a..b", ".hidden", " lead", "COM10", "LPT", "COMA",
          "console.log", "nul_", "conin", "CONOUT$x", "\xc3\xa9t\xc3\xa9.txt", "COM\xc2\xb4"})
        EXPECT_TRUE(IsSafeWindowsName(good)) << good;
    for (const char* bad : {"",         ".",           "..",       "a/b",
                            "a\\b",     "C:x",         "a:stream", "a<",
                            "a>",       "a\"",         "a|",       "a?",
                            "a*",       "\x01x",       "x\x1f",    "x\x7f",
                            "trail.",   "trail ",      "CON",      "prn",
                            "Aux.rtp",  "nul.tar.gz",  "NUL .txt", "com1",
                            "COM9.dat", "lpt5",        "COM0",     "LPT0",
                            "CONIN$",   "conout$.log", "COM\xb9",  "lpt\xc2\xb3.txt"})
        EXPECT_FALSE(IsSafeWindowsName(bad)) << bad;
    EXPECT_FALSE(IsSafeWindowsName(std::string_view("a\0b", 3)));
}

}  // namespace
