// The values a first run writes into the settings key, in their order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FirstRunDefault {
    std::string name;
    bool isText;
    std::string text;     // when isText
    uint32_t number = 0;  // otherwise
};

// The 297 defaults in the order they are written ("Path" is not among them:
// the start-up writes it after them).
std::vector<FirstRunDefault> FirstRunDefaults();
