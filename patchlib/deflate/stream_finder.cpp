#include "deflate/stream_finder.h"

#include <zlib.h>

#include <memory>

#include "common/byte_order.h"
#include "deflate/param_search.h"

namespace patchlib {

namespace {

const unsigned char* Bytes(std::string_view data) {
    return reinterpret_cast<const unsigned char*>(data.data());
}

// Where a compressed stream starts if a container's header is at `pos`, or 0.
// `expected` receives the compressed size the header gives, when it does.
struct Candidate {
    uint64_t start = 0;
    uint64_t expected = 0;
};

Candidate ZipEntry(std::string_view data, uint64_t pos) {
    const unsigned char* p = Bytes(data) + pos;
    if (data.size() - pos < 30 || GetLE(p, 4) != 0x04034B50 || GetLE(p + 8, 2) != 8) return {};
    const uint64_t start = pos + 30 + GetLE(p + 26, 2) + GetLE(p + 28, 2);
    if (start >= data.size()) return {};
    const bool descriptor = GetLE(p + 6, 2) & 8;
    const uint64_t size = GetLE(p + 18, 4);
    return {start, descriptor || size == 0xFFFFFFFF ? 0 : size};
}

Candidate GzipMember(std::string_view data, uint64_t pos) {
    const unsigned char* p = Bytes(data);
    const uint64_t end = data.size();
    if (end - pos < 18 || p[pos] != 0x1F || p[pos + 1] != 0x8B || p[pos + 2] != 8) return {};
    const unsigned flags = p[pos + 3];
    if (flags & 0xE0) return {};
    uint64_t at = pos + 10;
    if (flags & 4) {  // extra field
        if (end - at < 2) return {};
        at += 2 + GetLE(p + at, 2);
    }
    for (unsigned bit : {8u, 16u}) {  // name, comment: zero-terminated
        if (!(flags & bit)) continue;
        while (at < end && p[at] != 0) ++at;
        ++at;
    }
    if (flags & 2) at += 2;  // header CRC
    return {at < end ? at : 0, 0};
}

Candidate ZlibStream(std::string_view data, uint64_t pos) {
    const unsigned char* p = Bytes(data) + pos;
    if (data.size() - pos < 3) return {};
    const unsigned cmf = p[0], flg = p[1];
    if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20))
        return {};
    return {pos + 2, 0};
}

class Inflater {
public:
    Inflater() {
        if (inflateInit2(&stream_, -15) != Z_OK) throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&stream_); }

    bool Run(std::string_view data, uint64_t offset, std::string& out, uint64_t& consumed) {
        inflateReset(&stream_);
        out.clear();
        const uint64_t available = data.size() - offset;
        stream_.next_in = const_cast<Bytef*>(Bytes(data) + offset);
        stream_.avail_in = static_cast<uInt>(available < 0xFFFFFFFFu ? available : 0xFFFFFFFFu);
        unsigned char piece[16 * 1024];
        for (;;) {
            stream_.next_out = piece;
            stream_.avail_out = sizeof(piece);
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            out.append(reinterpret_cast<char*>(piece), sizeof(piece) - stream_.avail_out);
            consumed = stream_.total_in;
            if (rc == Z_STREAM_END) return out.size() <= kMaxDeflateRatio * consumed;
            if (rc != Z_OK || out.size() > kMaxDeflateRatio * (consumed + 1)) return false;
        }
    }

private:
    z_stream stream_{};
};

}  // namespace

bool StreamFinder::Inflate(std::string_view data, uint64_t offset, std::string& out,
                           uint64_t& consumed) {
    Inflater inflater;
    return inflater.Run(data, offset, out, consumed);
}

std::vector<DeflateStream> StreamFinder::Locate(std::string_view data) {
    std::vector<DeflateStream> found;
    Inflater inflater;
    std::string content;
    for (uint64_t pos = 0; pos < data.size();) {
        Candidate candidate = ZipEntry(data, pos);
        if (!candidate.start) candidate = GzipMember(data, pos);
        if (!candidate.start) candidate = ZlibStream(data, pos);
        uint64_t consumed = 0;
        if (!candidate.start || !inflater.Run(data, candidate.start, content, consumed) ||
            consumed < kMinCompressed || (candidate.expected && candidate.expected != consumed)) {
            ++pos;
            continue;
        }
        found.push_back({candidate.start, consumed, content.size(), {}});
        pos = candidate.start + consumed;
    }
    return found;
}

std::vector<DeflateStream> StreamFinder::Select(
    std::string_view data, const std::vector<DeflateStream>& located,
    const std::function<bool(const DeflateStream&)>& keep, std::vector<std::string>* inflated) {
    std::vector<DeflateStream> selected;
    uint64_t budget = kWorkPerByte * data.size() + kWorkAllowance;
    Inflater inflater;
    std::string content;
    uint64_t consumed = 0;
    for (const DeflateStream& stream : located) {
        if (!keep(stream) || !inflater.Run(data, stream.offset, content, consumed)) continue;
        const std::string_view compressed = data.substr(stream.offset, stream.compressedSize);
        if (auto params = ParamSearch::Find(content, compressed, budget)) {
            selected.push_back(stream);
            selected.back().params = *params;
            if (inflated) inflated->push_back(content);
        }
    }
    return selected;
}

std::vector<DeflateStream> StreamFinder::Find(std::string_view data,
                                              std::vector<std::string>* inflated) {
    return Select(
        data, Locate(data), [](const DeflateStream&) { return true; }, inflated);
}

}  // namespace patchlib
