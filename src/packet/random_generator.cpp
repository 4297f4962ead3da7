#include "packet/random_generator.h"

namespace {
constexpr uint32_t kMultiplier = 7563921;  // 0x736A91
constexpr uint32_t kIncrement = 1;
}  // namespace

RandomGenerator::RandomGenerator(uint32_t lowest, uint32_t highest, uint32_t seed)
    : state_(seed), low_(lowest), spanEnd_(highest + 1u) {}

RandomGenerator::~RandomGenerator() = default;

uint32_t RandomGenerator::Next() {
    state_ = state_ * kMultiplier + kIncrement;
    // A span of zero width means all 2^32 values (or a degenerate range):
    // the modulo below would divide by zero, so the lowest value stands.
    if (spanEnd_ == low_) return low_;
    return low_ + state_ % (spanEnd_ - low_);
}

void RandomGenerator::Idle() {}
