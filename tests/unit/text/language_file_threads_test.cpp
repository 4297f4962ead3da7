#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "temp_dir.h"
#include "ui/language_file.h"

namespace {

std::string ExpectedText(int number) {
    return "text " + std::to_string(number) + std::string(200, 'x');
}

// Two threads (as the main thread and the download receiver do) look up
// different texts at the same time; each must read its own text, complete,
// and keep it while the other thread goes on looking up.
TEST(LanguageFileThreads, ConcurrentLookupsEachSeeTheirOwnText) {
    TempDir dir;
    std::string contents;
    for (int number = 1; number <= 300; ++number)
        contents += "* comment\r\n" + ExpectedText(number) + "\r\n";
    dir.WriteFile("Language.Txt", contents);
    ASSERT_TRUE(OpenLanguageFile());

    std::atomic<int> wrong{0};
    auto lookUp = [&wrong](int number) {
        const std::string expected = ExpectedText(number);
        for (int round = 0; round < 300; ++round) {
            const char* text = GetLanguageText(number);
            if (expected != text) ++wrong;
            std::this_thread::yield();
            if (expected != text) ++wrong;  // still intact after the other's lookups
        }
    };
    std::thread first(lookUp, 3);
    std::thread second(lookUp, 297);
    first.join();
    second.join();
    CloseLanguageFile();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
