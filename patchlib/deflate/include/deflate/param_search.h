// Finds zlib parameters that compress some content to exactly the given
// deflate bytes: the likely ones first (default memory level and strategy,
// levels 6, 9, 1...), each attempt stopped at the first byte that differs.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "deflate/deflate_stream.h"

namespace patchlib {

class ParamSearch {
public:
    // budget: input bytes the attempts may still compress; each attempt takes
    // what it compressed before it stopped. Nothing when no parameters fit or
    // the budget ran out.
    static std::optional<DeflateParams> Find(std::string_view raw, std::string_view compressed,
                                             uint64_t& budget);
    // True when these parameters give exactly `compressed`.
    static bool Rebuilds(const DeflateParams& params, std::string_view raw,
                         std::string_view compressed, uint64_t& budget);
};

}  // namespace patchlib
