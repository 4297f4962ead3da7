#include "packet/random_generator.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint32_t> Draw(RandomGenerator& generator, int count) {
    std::vector<uint32_t> values;
    for (int i = 0; i < count; ++i) values.push_back(generator.Next());
    return values;
}

TEST(RandomGenerator, KeystreamsForKnownSeeds) {
    RandomGenerator seed0(0, 255, 0), seed1(0, 255, 1), seed512(0, 255, 512);
    const std::vector<uint32_t> stream0 = {1, 146, 179, 100, 165, 118};
    EXPECT_EQ(Draw(seed0, 6), stream0);
    EXPECT_EQ(Draw(seed1, 6), (std::vector<uint32_t>{146, 179, 100, 165, 118, 215}));
    EXPECT_EQ(Draw(seed512, 6), stream0);  // 512 is 0 modulo 256 after every step
}

TEST(RandomGenerator, SeedRangeStream) {
    RandomGenerator seeds(0, 512, 0);
    EXPECT_EQ(Draw(seeds, 3), (std::vector<uint32_t>{1, 250, 115}));
}

TEST(RandomGenerator, DrawsStayInAnOffsetRange) {
    RandomGenerator dice(10, 12, 99);
    for (uint32_t value : Draw(dice, 200)) {
        EXPECT_GE(value, 10u);
        EXPECT_LE(value, 12u);
    }
}

TEST(RandomGenerator, FullRangeReturnsTheLowestValue) {
    // highest + 1 wraps to lowest: no division by a zero span.
    RandomGenerator full(0, 0xFFFFFFFFu, 5);
    EXPECT_EQ(Draw(full, 3), (std::vector<uint32_t>{0, 0, 0}));
    RandomGenerator wrapped(7, 6, 5);
    EXPECT_EQ(Draw(wrapped, 2), (std::vector<uint32_t>{7, 7}));
}

}  // namespace
