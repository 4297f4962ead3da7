#include "rate_limit.h"

#include <algorithm>
#include <iterator>

namespace {
// A bucket emptied refills in this time: one idle this long is full.
constexpr uint32_t kRefillMs = 1000;
constexpr uint64_t kAnswer = 1000;  // thousandths
}  // namespace

bool AnswerRateLimit::Allow(uint32_t address, uint32_t now) {
    if (perSecond == 0) return true;
    if (now - lastSweep >= kRefillMs) {
        for (auto it = buckets.begin(); it != buckets.end();)
            it = now - it->second.last >= kRefillMs ? buckets.erase(it) : std::next(it);
        lastSweep = now;
    }
    const uint64_t full = uint64_t(perSecond) * kAnswer;
    Bucket& bucket = buckets.try_emplace(address, Bucket{full, now}).first->second;
    // Every millisecond brings perSecond thousandths of an answer.
    bucket.credit = std::min(full, bucket.credit + uint64_t(now - bucket.last) * perSecond);
    bucket.last = now;
    if (bucket.credit < kAnswer) return false;
    bucket.credit -= kAnswer;
    return true;
}
