// Numbers written as decimal text in the install files ("Security.Chk"
// size lines, "Version.Txt").
#pragma once

#include <cstdint>

// Reads a decimal number the way the C library does: leading blanks
// skipped, an optional sign, then digits; whatever follows the digits is
// ignored and a text without digits gives 0. The value saturates at the
// limits of int64_t instead of overflowing, so a damaged line can never
// give an undefined result. A null text gives 0.
int64_t ParseDecimal(const char* text);
