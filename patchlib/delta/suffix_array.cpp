#include "delta/suffix_array.h"

#include <algorithm>

namespace patchlib {

namespace {

template <typename T>
std::vector<int32_t> SortNaive(const T* s, int32_t n) {
    std::vector<int32_t> sa(n);
    for (int32_t i = 0; i < n; ++i) sa[i] = i;
    std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
        if (a == b) return false;
        while (a < n && b < n) {
            if (s[a] != s[b]) return s[a] < s[b];
            ++a;
            ++b;
        }
        return a == n;  // the shorter suffix (a prefix of the other) sorts first
    });
    return sa;
}

// s[i] lies in [0, upper]. Classic induced sorting: classify suffixes as
// S or L, place the LMS suffixes, induce the L then S suffixes, name the LMS
// substrings, recurse when names repeat, and induce once more.
template <typename T>
std::vector<int32_t> SaIs(const T* s, int32_t n, int32_t upper) {
    if (n == 0) return {};
    if (n < 16) return SortNaive(s, n);

    std::vector<int32_t> sa(n);
    std::vector<bool> isS(n);  // isS[i]: suffix i is smaller than suffix i+1
    for (int32_t i = n - 2; i >= 0; --i) isS[i] = s[i] == s[i + 1] ? isS[i + 1] : s[i] < s[i + 1];

    // Bucket starts: for the L suffixes of symbol c, then the S suffixes.
    std::vector<int32_t> startL(upper + 2), startS(upper + 2);
    for (int32_t i = 0; i < n; ++i) {
        if (!isS[i])
            ++startS[s[i]];
        else
            ++startL[s[i] + 1];
    }
    for (int32_t c = 0; c <= upper; ++c) {
        startS[c] += startL[c];
        if (c < upper) startL[c + 1] += startS[c];
    }

    auto isLms = [&](int32_t i) { return i > 0 && isS[i] && !isS[i - 1]; };

    auto induce = [&](const std::vector<int32_t>& lms) {
        std::fill(sa.begin(), sa.end(), -1);
        std::vector<int32_t> bucket(upper + 2);
        std::copy(startS.begin(), startS.end(), bucket.begin());
        for (int32_t p : lms) sa[bucket[s[p]]++] = p;
        std::copy(startL.begin(), startL.end(), bucket.begin());
        sa[bucket[s[n - 1]]++] = n - 1;
        for (int32_t i = 0; i < n; ++i) {
            int32_t v = sa[i];
            if (v >= 1 && !isS[v - 1]) sa[bucket[s[v - 1]]++] = v - 1;
        }
        std::copy(startL.begin(), startL.end(), bucket.begin());
        for (int32_t i = n - 1; i >= 0; --i) {
            int32_t v = sa[i];
            if (v >= 1 && isS[v - 1]) sa[--bucket[s[v - 1] + 1]] = v - 1;
        }
    };

    std::vector<int32_t> lmsIndex(n, -1);
    std::vector<int32_t> lms;
    for (int32_t i = 1; i < n; ++i) {
        if (isLms(i)) {
            lmsIndex[i] = static_cast<int32_t>(lms.size());
            lms.push_back(i);
        }
    }
    const int32_t m = static_cast<int32_t>(lms.size());
    induce(lms);
    if (m == 0) return sa;

    std::vector<int32_t> sortedLms;
    sortedLms.reserve(m);
    for (int32_t v : sa)
        if (v >= 0 && lmsIndex[v] != -1) sortedLms.push_back(v);

    // Name each LMS substring; equal substrings get equal names.
    std::vector<int32_t> reduced(m);
    int32_t name = 0;
    reduced[lmsIndex[sortedLms[0]]] = 0;
    for (int32_t k = 1; k < m; ++k) {
        int32_t l = sortedLms[k - 1], r = sortedLms[k];
        int32_t endL = lmsIndex[l] + 1 < m ? lms[lmsIndex[l] + 1] : n;
        int32_t endR = lmsIndex[r] + 1 < m ? lms[lmsIndex[r] + 1] : n;
        bool same = endL - l == endR - r;
        if (same) {
            while (l < endL && s[l] == s[r]) {
                ++l;
                ++r;
            }
            if (l == n || r == n || s[l] != s[r]) same = false;
        }
        if (!same) ++name;
        reduced[lmsIndex[sortedLms[k]]] = name;
    }
    lmsIndex.clear();
    lmsIndex.shrink_to_fit();

    std::vector<int32_t> reducedSa = SaIs(reduced.data(), m, name);
    for (int32_t k = 0; k < m; ++k) sortedLms[k] = lms[reducedSa[k]];
    induce(sortedLms);
    return sa;
}

}  // namespace

std::vector<int32_t> SuffixArray::Build(const unsigned char* data, int32_t size) {
    return SaIs(data, size, 255);
}

}  // namespace patchlib
