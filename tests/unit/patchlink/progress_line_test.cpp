#include "ui/progress_line.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressLine, ScalesAtTheThousandAndMillionEdges) {
    struct Case {
        uint32_t bytes;
        double value;
        char unit;
    };
    for (const Case& c :
         {Case{1000, 1000, 'b'}, Case{1001, 1, 'k'}, Case{1999, 1, 'k'}, Case{1000000, 1000, 'k'},
          Case{1000001, 1.000001, 'M'}, Case{0xFFFFFFFFu, 4294.967295, 'M'}}) {
        ProgressLine::Amount a = ProgressLine::Scale(c.bytes);
        EXPECT_NEAR(a.value, c.value, 1e-9) << c.bytes;
        EXPECT_EQ(a.unit, c.unit) << c.bytes;
    }
}

TEST(ProgressLine, FormatsNameReceivedAndTotal) {
    EXPECT_EQ(ProgressLine::Format("%s %.0f %c / %.0f %c", "p.rtp", 1000, 1000000),
              "p.rtp 1000 b / 1000 k");
    // The total passes through single precision: 1,000,001 is not exactly
    // 1.000001 there.
    EXPECT_EQ(ProgressLine::Format("%s %.7g %c %.9f %c", "q", 1000001, 1000001),
              "q 1.000001 M 1.000000954 M");
    // A format from the text file that does not take these arguments is
    // never handed to printf.
    EXPECT_EQ(ProgressLine::Format("%s %d %c %d %c", "n", 2, 3), "n: 2.0 b of 3.0 b");
    EXPECT_EQ(ProgressLine::Format("%s", std::string(300, 'n').c_str(), 1, 2),
              std::string(99, 'n'));
}

}  // namespace
