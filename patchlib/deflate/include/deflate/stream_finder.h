// Finds the deflate streams in a file that zlib rebuilds exactly: zip entries
// (local file headers, method 8), gzip members and zlib streams (a two-byte
// header that passes its check). Each candidate is inflated to find where it
// ends; a zip entry whose local header gives its size must end there. Streams
// that no parameters rebuild are left out (they stay plain bytes for the
// delta), and so are tiny ones, which would cost more to describe than they
// save.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "deflate/deflate_stream.h"

namespace patchlib {

class StreamFinder {
public:
    static constexpr uint64_t kMinCompressed = 32;
    // The parameter search may compress this many bytes per byte of the file
    // (plus a fixed allowance for small files); then the rest stays opaque.
    static constexpr uint64_t kWorkPerByte = 16;
    static constexpr uint64_t kWorkAllowance = 64ull << 20;

    // Streams in file order, not overlapping. `inflated` receives each one's
    // content, in the same order, when not null.
    static std::vector<DeflateStream> Find(std::string_view data,
                                           std::vector<std::string>* inflated = nullptr);
    // The two steps of Find. Locate: the streams that inflate, without
    // parameters. Select: of those that `keep` accepts, the ones some
    // parameters rebuild (found within the file's budget).
    static std::vector<DeflateStream> Locate(std::string_view data);
    static std::vector<DeflateStream> Select(std::string_view data,
                                             const std::vector<DeflateStream>& located,
                                             const std::function<bool(const DeflateStream&)>& keep,
                                             std::vector<std::string>* inflated);
    // The content of the raw deflate stream at `offset` when it ends inside
    // `data`; its compressed length goes to `consumed`. False when it is not one.
    static bool Inflate(std::string_view data, uint64_t offset, std::string& out,
                        uint64_t& consumed);
};

}  // namespace patchlib
