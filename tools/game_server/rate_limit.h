// How many answers one IPv4 address (all its ports together) may have: a
// bucket per address that holds one second's worth of answers and refills
// evenly. An address whose bucket is full again is forgotten, so the table
// only holds the addresses answered within the last second or two.
#pragma once

#include <cstdint>
#include <unordered_map>

class AnswerRateLimit {
public:
    // 0: no limit.
    explicit AnswerRateLimit(uint32_t answersPerSecond) : perSecond(answersPerSecond) {}

    // True, and one answer counted, when the address may have an answer at
    // the millisecond tick `now`.
    bool Allow(uint32_t address, uint32_t now);

private:
    struct Bucket {
        uint64_t credit;  // in thousandths of an answer
        uint32_t last;    // tick of the last refill
    };

    uint32_t perSecond;
    std::unordered_map<uint32_t, Bucket> buckets;
    uint32_t lastSweep = 0;
};
