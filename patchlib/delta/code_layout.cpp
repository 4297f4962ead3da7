#include "delta/code_layout.h"

#include <algorithm>

#include "common/byte_order.h"
#include "common/patch_error.h"

namespace patchlib {

namespace {

// Bounds-checked little-endian reads of a header that may be anything.
class HeaderBytes {
public:
    HeaderBytes(const unsigned char* data, size_t size) : data_(data), size_(size) {}
    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint64_t Get(uint64_t offset, int bytes) const {
        return Has(offset, static_cast<uint64_t>(bytes)) ? GetLE(data_ + offset, bytes) : 0;
    }

private:
    const unsigned char* data_;
    size_t size_;
};

constexpr uint32_t kLoadSegment = 1, kExecutable = 1;
constexpr uint32_t kCodeSection = 0x20, kExecutableSection = 0x20000000;

bool ReadElf(const HeaderBytes& h, bool& is64, std::vector<Segment>& out) {
    if (h.Get(0, 4) != 0x464C457F || h.Get(5, 1) != 1) return false;  // "\x7fELF", little-endian
    is64 = h.Get(4, 1) == 2;
    if (h.Get(18, 2) != (is64 ? 62u : 3u) || (!is64 && h.Get(4, 1) != 1)) return false;
    uint64_t table = h.Get(is64 ? 32 : 28, is64 ? 8 : 4);
    uint64_t entrySize = h.Get(is64 ? 54 : 42, 2), count = h.Get(is64 ? 56 : 44, 2);
    if (entrySize < (is64 ? 56u : 32u)) return false;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t at = table + i * entrySize;
        if (!h.Has(at, entrySize)) return false;
        if (h.Get(at, 4) != kLoadSegment) continue;
        Segment s;
        if (is64) {
            s.code = h.Get(at + 4, 4) & kExecutable;
            s.fileOffset = h.Get(at + 8, 8);
            s.address = h.Get(at + 16, 8);
            s.fileSize = h.Get(at + 32, 8);
            s.memorySize = h.Get(at + 40, 8);
        } else {
            s.fileOffset = h.Get(at + 4, 4);
            s.address = h.Get(at + 8, 4);
            s.fileSize = h.Get(at + 16, 4);
            s.memorySize = h.Get(at + 20, 4);
            s.code = h.Get(at + 24, 4) & kExecutable;
        }
        out.push_back(s);
    }
    return true;
}

bool ReadPe(const HeaderBytes& h, bool& is64, std::vector<Segment>& out) {
    if (h.Get(0, 2) != 0x5A4D) return false;  // "MZ"
    uint64_t pe = h.Get(0x3C, 4);
    if (h.Get(pe, 4) != 0x00004550) return false;  // "PE\0\0"
    uint64_t machine = h.Get(pe + 4, 2), count = h.Get(pe + 6, 2);
    uint64_t optional = pe + 24, optionalSize = h.Get(pe + 20, 2);
    uint64_t magic = h.Get(optional, 2);
    is64 = machine == 0x8664 && magic == 0x20B;
    if (!is64 && !(machine == 0x14C && magic == 0x10B)) return false;
    uint64_t imageBase = is64 ? h.Get(optional + 24, 8) : h.Get(optional + 28, 4);
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t at = optional + optionalSize + 40 * i;
        if (!h.Has(at, 40)) return false;
        Segment s;
        s.fileSize = h.Get(at + 16, 4);
        s.fileOffset = h.Get(at + 20, 4);
        s.address = imageBase + h.Get(at + 12, 4);
        s.memorySize = std::max(h.Get(at + 8, 4), s.fileSize);
        s.code = h.Get(at + 36, 4) & (kCodeSection | kExecutableSection);
        out.push_back(s);
    }
    return true;
}

[[noreturn]] void Corrupt() {
    throw PatchError(PatchResult::CorruptPatch, "a delta's layout is malformed");
}

}  // namespace

CodeLayout CodeLayout::Detect(const unsigned char* data, size_t size) {
    HeaderBytes header(data, size);
    CodeLayout layout;
    if (!ReadElf(header, layout.is64_, layout.segments_) &&
        !ReadPe(header, layout.is64_, layout.segments_))
        return CodeLayout();
    // Trim what lies past the end of the file; a header with more segments
    // than we keep, or addresses that wrap, is not worth trusting.
    for (Segment& s : layout.segments_) {
        s.fileOffset = std::min<uint64_t>(s.fileOffset, size);
        s.fileSize = std::min<uint64_t>(s.fileSize, size - s.fileOffset);
        s.memorySize = std::max(s.memorySize, s.fileSize);
    }
    if (layout.segments_.size() > kMaxSegments || !layout.Finish(size)) return CodeLayout();
    return layout;
}

bool CodeLayout::Finish(uint64_t fileSize) {
    code_.clear();
    pointerLow_ = UINT64_MAX;
    pointerHigh_ = 0;
    for (const Segment& s : segments_) {
        if (s.fileOffset > fileSize || s.fileSize > fileSize - s.fileOffset ||
            s.memorySize < s.fileSize || s.address + s.memorySize < s.address ||
            (!is64_ && s.address + s.memorySize > 0x100000000ull))
            return false;
        pointerHigh_ = std::max(pointerHigh_, s.address + s.memorySize);
        if (!s.code || s.fileSize == 0) continue;
        pointerLow_ = std::min(pointerLow_, s.address);
        code_.push_back({s.fileOffset, s.fileOffset + s.fileSize});
    }
    if (code_.empty()) return false;
    fileAlone_.assign(segments_.size(), 1);
    memoryAlone_.assign(segments_.size(), 1);
    for (size_t i = 0; i < segments_.size(); ++i) {
        const Segment& a = segments_[i];
        for (size_t j = 0; j < i; ++j) {
            const Segment& b = segments_[j];
            if (a.fileOffset < b.fileOffset + b.fileSize &&
                b.fileOffset < a.fileOffset + a.fileSize)
                fileAlone_[i] = 0;
            if (a.address < b.address + b.memorySize && b.address < a.address + a.memorySize)
                memoryAlone_[i] = 0;
        }
    }
    std::sort(code_.begin(), code_.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
    std::vector<ByteRange> merged;
    for (const ByteRange& r : code_) {
        if (!merged.empty() && r.begin <= merged.back().end)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    code_.swap(merged);
    return true;
}

void CodeLayout::Encode(std::string& out) const {
    PutVarint(out, empty() ? 0 : segments_.size());
    if (empty()) return;
    PutVarint(out, is64_ ? 1 : 0);
    for (const Segment& s : segments_) {
        for (uint64_t value : {s.fileOffset, s.fileSize, s.address, s.memorySize})
            PutVarint(out, value);
        PutVarint(out, s.code ? 1 : 0);
    }
}

CodeLayout CodeLayout::Decode(const unsigned char*& in, const unsigned char* end,
                              uint64_t fileSize) {
    uint64_t count = 0, flag = 0;
    CodeLayout layout;
    if (!GetVarint(in, end, count) || count > kMaxSegments) Corrupt();
    if (count == 0) return layout;
    if (!GetVarint(in, end, flag) || flag > 1) Corrupt();
    layout.is64_ = flag == 1;
    layout.segments_.resize(static_cast<size_t>(count));
    for (Segment& s : layout.segments_) {
        for (uint64_t* value : {&s.fileOffset, &s.fileSize, &s.address, &s.memorySize})
            if (!GetVarint(in, end, *value)) Corrupt();
        if (!GetVarint(in, end, flag) || flag > 1) Corrupt();
        s.code = flag == 1;
    }
    if (!layout.Finish(fileSize)) Corrupt();
    return layout;
}

}  // namespace patchlib
