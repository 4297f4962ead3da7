#include "suffix_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "tree_fixture.h"

namespace {

std::vector<int32_t> NaiveSuffixArray(const std::string& s) {
    std::vector<int32_t> sa(s.size());
    for (size_t i = 0; i < s.size(); ++i) sa[i] = static_cast<int32_t>(i);
    std::sort(sa.begin(), sa.end(),
              [&](int32_t a, int32_t b) { return s.compare(a, std::string::npos, s, b) < 0; });
    return sa;
}

std::vector<int32_t> Build(const std::string& s) {
    return patchlib::SuffixArray::Build(reinterpret_cast<const unsigned char*>(s.data()),
                                        static_cast<int32_t>(s.size()));
}

// Small alphabets and repetitive inputs force the recursion on LMS names,
// where induced sorting goes wrong if it goes wrong at all.
TEST(SuffixArray, MatchesNaiveSortingOnRandomAndRepetitiveInputs) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        size_t size = random() % 400;
        int alphabet = 1 + static_cast<int>(random() % (round % 3 == 0 ? 256 : 4));
        std::string s(size, '\0');
        for (char& c : s) c = static_cast<char>(random() % alphabet);
        ASSERT_EQ(Build(s), NaiveSuffixArray(s)) << "round " << round;
    }
    for (std::string s : {std::string(1000, 'a'), std::string("abababababababababababab"),
                          std::string("mississippimississippimississippi"),
                          std::string("\xff\x00\xff\x00\xff", 5)}) {
        EXPECT_EQ(Build(s), NaiveSuffixArray(s)) << s.size();
    }
    std::string periodic;
    for (int i = 0; i < 3000; ++i) periodic += static_cast<char>("abcab"[i % 5] + (i % 997 == 0));
    EXPECT_EQ(Build(periodic), NaiveSuffixArray(periodic));
}

TEST(SuffixArray, IsASortedPermutationForALargeInput) {
    std::string s = patchtest::GameData(3, 300000);
    std::vector<int32_t> sa = Build(s);
    ASSERT_EQ(sa.size(), s.size());
    std::vector<bool> seen(s.size());
    for (int32_t p : sa) {
        ASSERT_FALSE(seen[p]);
        seen[p] = true;
    }
    for (size_t i = 1; i < sa.size(); ++i)
        ASSERT_LT(s.compare(sa[i - 1], std::string::npos, s, sa[i]), 0) << i;
}

}  // namespace
