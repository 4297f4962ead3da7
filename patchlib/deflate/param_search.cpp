#include "deflate/param_search.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace patchlib {

namespace {

// zlib's Z_FINISH deflates only as far as the output room allows, so small
// output pieces let a wrong guess stop early.
constexpr size_t kPiece = 4096;

// The order in which combinations are tried: what zlib users pick most.
std::vector<DeflateParams> Candidates() {
    struct Shape {
        int windowBits, memLevel, strategy;
    };
    std::vector<Shape> shapes = {{15, 8, Z_DEFAULT_STRATEGY}, {15, 9, Z_DEFAULT_STRATEGY},
                                 {15, 8, Z_FILTERED},         {15, 8, Z_RLE},
                                 {15, 8, Z_HUFFMAN_ONLY},     {15, 8, Z_FIXED}};
    for (int bits = 14; bits >= 9; --bits) shapes.push_back({bits, 8, Z_DEFAULT_STRATEGY});
    for (int mem = 7; mem >= 1; --mem) shapes.push_back({15, mem, Z_DEFAULT_STRATEGY});
    std::vector<DeflateParams> out;
    for (const Shape& shape : shapes)
        for (int level : {6, 9, 1, 5, 4, 3, 2, 7, 8, 0})
            out.push_back({level, shape.windowBits, shape.memLevel, shape.strategy});
    return out;
}

}  // namespace

bool ParamSearch::Rebuilds(const DeflateParams& params, std::string_view raw,
                           std::string_view compressed, uint64_t& budget) {
    z_stream stream{};
    if (deflateInit2(&stream, params.level, Z_DEFLATED, -params.windowBits, params.memLevel,
                     params.strategy) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    stream.avail_in = static_cast<uInt>(raw.size());
    unsigned char piece[kPiece];
    size_t matched = 0;
    bool same = true;
    for (;;) {
        stream.next_out = piece;
        stream.avail_out = sizeof(piece);
        const int rc = deflate(&stream, Z_FINISH);
        const size_t produced = sizeof(piece) - stream.avail_out;
        if ((rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) ||
            produced > compressed.size() - matched ||
            std::memcmp(piece, compressed.data() + matched, produced) != 0) {
            same = false;
            break;
        }
        matched += produced;
        if (rc == Z_STREAM_END) {
            same = matched == compressed.size();
            break;
        }
    }
    const uint64_t used = raw.size() - stream.avail_in;
    budget -= used < budget ? used : budget;
    deflateEnd(&stream);
    return same;
}

std::optional<DeflateParams> ParamSearch::Find(std::string_view raw, std::string_view compressed,
                                               uint64_t& budget) {
    // zlib takes its input length as 32 bits.
    if (raw.size() > 0xFFFFFFFFu) return std::nullopt;
    static const std::vector<DeflateParams> candidates = Candidates();
    for (const DeflateParams& params : candidates) {
        if (budget == 0) return std::nullopt;
        if (Rebuilds(params, raw, compressed, budget)) return params;
    }
    return std::nullopt;
}

}  // namespace patchlib
