#include "patchlink/progress_line.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressLine, ScalesAtTheThousandAndMillionEdges) {
    struct Case {
        uint32_t bytes;
        double value;
        char unit;
    };
    for (const Case& c :
         {Case{0, 0, 'b'}, Case{1000, 1000, 'b'}, Case{1001, 1, 'k'}, Case{1999, 1, 'k'},
          Case{1000000, 1000, 'k'}, Case{1500000, 1.5, 'M'}, Case{0xFFFFFFFFu, 4294.967295, 'M'}}) {
        ProgressLine::Amount a = ProgressLine::Scale(c.bytes);
        EXPECT_DOUBLE_EQ(a.value, c.value) << c.bytes;
        EXPECT_EQ(a.unit, c.unit) << c.bytes;
    }
    EXPECT_NEAR(ProgressLine::Scale(1000001).value, 1.000001, 1e-12);
}

TEST(ProgressLine, FormatsNameReceivedAndTotal) {
    EXPECT_EQ(ProgressLine::Format("%s %.0f %c / %.0f %c", "p.rtp", 1000, 1000000),
              "p.rtp 1000 b / 1000 k");
    EXPECT_EQ(ProgressLine::Format("%s %.0f%c of %.0f%c", "p.rtp", 1001, 1001), "p.rtp 1k of 1k");
    // The total passes through single precision: 1,000,001 bytes is not
    // exactly 1.000001 there.
    EXPECT_EQ(ProgressLine::Format("%s %.7g %c %.9f %c", "q", 1000001, 1000001),
              "q 1.000001 M 1.000000954 M");
    EXPECT_EQ(ProgressLine::Format("%-3s|%5.1lf|%c|%e|%c %%", "x", 5, 5),
              "x  |  5.0|b|5.000000e+00|b %");
}

TEST(ProgressLine, ForeignFormatsAreNeverHandedToPrintf) {
    for (const char* bad : {"%s %d %c %d %c", "%s %f %c %f %c %s", "%n%s%f%c%f%c",
                            "%s %*f %c %f %c", "%s %f %s %f %c", "%ls %f %c %f %c"}) {
        EXPECT_FALSE(ProgressLine::IsProgressFormat(bad)) << bad;
        char expected[100];
        std::snprintf(expected, sizeof expected, ProgressLine::kFallbackFormat, "n", 2.0, 'b', 3.0,
                      'b');
        EXPECT_EQ(ProgressLine::Format(bad, "n", 2, 3), expected) << bad;
    }
    EXPECT_FALSE(ProgressLine::IsProgressFormat(nullptr));
}

TEST(ProgressLine, FormatsThatTakeFewerArgumentsAreUsedAsTheyStand) {
    EXPECT_EQ(ProgressLine::Format("%s %.0f %c", "n", 2, 3), "n 2 b");
    EXPECT_EQ(ProgressLine::Format("Downloading", "n", 2, 3), "Downloading");
}

TEST(ProgressLine, LongLinesAreCutTo99Characters) {
    std::string name(300, 'n');
    std::string line = ProgressLine::Format("%s %f %c %f %c", name.c_str(), 1, 2);
    EXPECT_EQ(line, std::string(99, 'n'));
}

}  // namespace
