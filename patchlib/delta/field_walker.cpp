#include "field_walker.h"

#include <algorithm>
#include <array>

#include "common/byte_order.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace patchlib {

namespace {

constexpr uint64_t kLookahead = 4;  // the longest opcode pattern before a field

// Opcodes followed by a ModRM byte that commonly address memory: one-byte
// ones, and those after 0F.
struct OpcodeTables {
    std::array<bool, 256> plain{}, escaped{};
    // Bit 0: a byte that starts a pattern by itself (E8, E9, 0F); bit 1: a
    // ModRM byte without base. A pattern at i needs bit 0 at i or bit 1 at
    // one of the three bytes after it, which few positions have.
    std::array<unsigned char, 256> trigger{};
    OpcodeTables() {
        for (int base = 0x00; base <= 0x38; base += 8)
            for (int op = base; op < base + 4; ++op) plain[op] = true;  // add, or, ..., cmp
        for (int op : {0x63, 0x69, 0x6B, 0x80, 0x81, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A,
                       0x8B, 0x8D, 0xC6, 0xC7, 0xD0, 0xD1, 0xD2, 0xD3, 0xF6, 0xF7, 0xFE, 0xFF})
            plain[op] = true;
        for (int op = 0x10; op <= 0x17; ++op) escaped[op] = true;
        for (int op = 0x28; op <= 0x2F; ++op) escaped[op] = true;
        for (int op = 0x40; op <= 0x4F; ++op) escaped[op] = true;
        for (int op = 0x51; op <= 0x7F; ++op) escaped[op] = true;
        for (int op : {0xAF, 0xB6, 0xB7, 0xBE, 0xBF}) escaped[op] = true;
        trigger[0xE8] = trigger[0xE9] = trigger[0x0F] = 1;
        for (int modrm = 0x05; modrm < 0x100; modrm += 8)
            if ((modrm & 0xC0) == 0) trigger[modrm] |= 2;
    }
};

const OpcodeTables kOpcodes;

bool NoBase(unsigned char modrm) { return (modrm & 0xC7) == 0x05; }

// Where a field starts after p (1 to 4 bytes on), or 0. avail: bytes of the
// code range from p on, up to kLookahead.
inline int MatchCode(const unsigned char* p, uint64_t avail, bool is64, FieldKind& kind) {
    const unsigned char b0 = p[0];
    kind = FieldKind::Rel32;
    if (b0 == 0xE8 || b0 == 0xE9) return 1;
    if (avail < 2) return 0;
    if (b0 == 0x0F && (p[1] & 0xF0) == 0x80) return 2;
    const FieldKind memory = is64 ? FieldKind::Rel32 : FieldKind::Abs32;
    kind = memory;
    if (kOpcodes.plain[b0] && NoBase(p[1])) return 2;
    if (avail < 3) return 0;
    const bool rex = is64 && (b0 & 0xF0) == 0x40;
    if (rex && kOpcodes.plain[p[1]] && NoBase(p[2])) return 3;
    if (b0 == 0x0F && kOpcodes.escaped[p[1]] && NoBase(p[2])) return 3;
    if (avail < 4) return 0;
    if (rex && p[1] == 0x0F && kOpcodes.escaped[p[2]] && NoBase(p[3])) return 4;
    return 0;
}

// A mask of the 16 positions from p on where a pattern may start: a superset
// of MatchCode's matches, cheap to find; reads p[0..18].
unsigned CandidateMask(const unsigned char* p, bool is64) {
#if defined(__SSE2__)
    auto load = [p](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)); };
    auto equal = [](__m128i v, int byte) {
        return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(byte)));
    };
    auto masked = [equal](__m128i v, int mask, int byte) {
        return equal(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(mask))), byte);
    };
    const __m128i v0 = load(0), v1 = load(1);
    const __m128i escape = equal(v0, 0x0F);
    const __m128i rex = is64 ? masked(v0, 0xF0, 0x40) : _mm_setzero_si128();
    __m128i hits = _mm_or_si128(equal(v0, 0xE8), equal(v0, 0xE9));
    hits = _mm_or_si128(hits, _mm_and_si128(escape, masked(v1, 0xF0, 0x80)));
    hits = _mm_or_si128(hits, masked(v1, 0xC7, 0x05));
    hits =
        _mm_or_si128(hits, _mm_and_si128(_mm_or_si128(rex, escape), masked(load(2), 0xC7, 0x05)));
    hits = _mm_or_si128(
        hits, _mm_and_si128(_mm_and_si128(rex, equal(v1, 0x0F)), masked(load(3), 0xC7, 0x05)));
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
#else
    (void)is64;
    const auto& trigger = kOpcodes.trigger;
    unsigned mask = 0;
    for (int i = 0; i < 16; ++i)
        if ((trigger[p[i]] & 1) ||
            ((trigger[p[i + 1]] | trigger[p[i + 2]] | trigger[p[i + 3]]) & 2))
            mask |= 1u << i;
    return mask;
#endif
}

}  // namespace

uint64_t FieldWalker::Walk(const unsigned char* window, const unsigned char* old, uint64_t start,
                           uint64_t end, std::vector<FoundField>& found) {
    found_ = &found;
    if (layout_.empty()) next_ = end;
    const std::vector<ByteRange>& code = layout_.code();
    while (next_ < end) {
        while (region_ < code.size() && code[region_].end <= next_) ++region_;
        if (region_ == code.size() || next_ < code[region_].begin) {
            uint64_t areaEnd = region_ < code.size() ? code[region_].begin : size_;
            WalkData(old, start, end, areaEnd);
            if (next_ < areaEnd) break;  // waiting for the bytes of a candidate
            continue;
        }
        const uint64_t regionEnd = code[region_].end;
        WalkCode(window, start, std::min(regionEnd, end));
        // Near the end of the range or of the window: the pattern or its field
        // may be cut.
        if (next_ >= std::min(regionEnd, end)) continue;
        const uint64_t avail = std::min(kLookahead, regionEnd - next_);
        if (end - next_ < avail) break;
        FieldKind kind;
        int offset = MatchCode(window + (next_ - start), avail, layout_.is64(), kind);
        if (offset == 0 || next_ + offset + 4 > regionEnd) {
            ++next_;
            continue;
        }
        const uint64_t field = next_ + offset;
        if (field + 4 > end) break;
        Report(field, kind, start);
        next_ = field + 4;
    }
    const uint64_t done = std::min(next_, end);
    while (!runs_.empty() && runs_.front().end <= done) runs_.pop_front();
    return done;
}

// The bulk of a code range: every position whose pattern and field lie
// before limit, sixteen candidates at a time.
void FieldWalker::WalkCode(const unsigned char* window, uint64_t start, uint64_t limit) {
    const bool is64 = layout_.is64();
    if (next_ + 8 > limit) return;
    const unsigned char* at = window + (next_ - start);
    const unsigned char* const last = window + (limit - 8 - start);  // the last position to try
    while (at <= last) {
        const unsigned char* block = at;
        unsigned mask = last - at >= 16 ? CandidateMask(at, is64) : 1;
        const unsigned char* blockEnd = last - at >= 16 ? at + 16 : at + 1;
        while (mask) {
            const unsigned char* p = block + __builtin_ctz(mask);
            FieldKind kind;
            const int offset = MatchCode(p, kLookahead, is64, kind);
            if (offset == 0) {
                mask &= mask - 1;
                continue;
            }
            Report(start + static_cast<uint64_t>(p - window) + offset, kind, start);
            at = p + offset + 4;
            mask = at >= blockEnd ? 0 : mask & ~((1u << (at - block)) - 1);
        }
        at = std::max(at, blockEnd);
    }
    next_ = start + static_cast<uint64_t>(at - window);
}

// Pointer-sized words of the area [next_, areaEnd) outside code.
void FieldWalker::WalkData(const unsigned char* old, uint64_t start, uint64_t end,
                           uint64_t areaEnd) {
    const FieldKind kind = layout_.is64() ? FieldKind::Abs64 : FieldKind::Abs32;
    const int width = FieldWidth(kind);
    uint64_t p = (next_ + width - 1) / width * width;
    while (p + width <= areaEnd) {
        if (p + width > end) {
            next_ = p;
            return;
        }
        const DeltaRun* run = RunAt(p);
        if (!run) {
            p += width;
            continue;
        }
        // The words of this run that have arrived and lie in the area.
        const uint64_t stop = std::min({run->end, end, areaEnd});
        for (; run->copy && p + width <= stop; p += width) {
            const unsigned char* bytes = old + (p - start);
            const uint64_t value = width == 8 ? GetLE(bytes, 8) : GetLE(bytes, 4);
            if (layout_.LooksLikePointer(value)) Add(p, kind, start, *run);
        }
        if (p + width <= stop)
            p = (stop - width) / width * width + width;  // a literal run
        else if (p + width > run->end && p < run->end)
            p += width;  // across its end
    }
    next_ = areaEnd;
}

}  // namespace patchlib
