// Simple Unicode case folding of UTF-8 text, as a case-insensitive file
// system compares names: Windows treats two names as one when they differ
// only in case, in any script (É/é, Σ/σ/ς, Ж/ж, Ａ/ａ), not in ASCII only.
#pragma once

#include <string>
#include <string_view>

namespace patchlib {

// Every code point of the Basic Multilingual Plane that has a simple case
// folding (one code point to one) is replaced by it. Other code points, and
// bytes that are not valid UTF-8, are kept as they are.
std::string FoldCaseUtf8(std::string_view text);

}  // namespace patchlib
