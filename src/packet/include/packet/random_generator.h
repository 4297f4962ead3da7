// A 32-bit linear congruential generator drawing from a closed range: the
// keystream of the packet cipher and the random server picks.
#pragma once

#include <cstdint>

class RandomGenerator {
public:
    // Draws fall in [lowest, highest]; the seed is the starting state.
    RandomGenerator(uint32_t lowest, uint32_t highest, uint32_t seed);
    virtual ~RandomGenerator();

    // One step of the generator, then the new state mapped into the range.
    virtual uint32_t Next();
    // The third virtual operation of a generator, for one that has work to
    // do between draws; this one has none.
    virtual void Idle();

private:
    uint32_t state_;
    uint32_t low_;
    uint32_t spanEnd_;  // highest + 1, wrapped: equal to low for the full range
};
