#include "delta/delta_encoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "delta/code_layout.h"
#include "field_walker.h"
#include "sparse_diff.h"
#include "delta/suffix_array.h"
#include "target_map.h"
#include "zlib/zlib_writer.h"

namespace patchlib {

namespace {

// Copy `copy` bytes from old position oldPos to new position newPos, then
// `extra` literal bytes.
struct Step {
    int64_t oldPos, newPos, copy, extra;
};

int64_t MatchLength(const unsigned char* a, int64_t aLen, const unsigned char* b, int64_t bLen) {
    int64_t n = std::min(aLen, bLen);
    int64_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Longest prefix of the needle found in old, by binary search on the suffix array.
int64_t Search(const std::vector<int32_t>& sa, const unsigned char* old, int64_t oldSize,
               const unsigned char* needle, int64_t needleSize, int64_t& pos) {
    int64_t lo = 0, hi = oldSize - 1;
    while (hi - lo >= 2) {
        int64_t mid = lo + (hi - lo) / 2;
        int64_t start = sa[mid];
        size_t len = static_cast<size_t>(std::min(oldSize - start, needleSize));
        if (std::memcmp(old + start, needle, len) < 0)
            lo = mid;
        else
            hi = mid;
    }
    int64_t x = MatchLength(old + sa[lo], oldSize - sa[lo], needle, needleSize);
    int64_t y = MatchLength(old + sa[hi], oldSize - sa[hi], needle, needleSize);
    if (x > y) {
        pos = sa[lo];
        return x;
    }
    pos = sa[hi];
    return y;
}

// A match that starts a new move must be at least this long: a shorter one
// costs more in control than it saves, and in a long literal run (a new block
// of records, a table) chance matches would break the run into pieces that
// compress worse than the whole.
constexpr int64_t kMinNewMatch = 12;

// Matches one piece of the new file against one window of the old file.
// Follows the classic approach: find exact matches with the suffix array,
// extend them forwards and backwards while at least half of the bytes agree,
// and keep going past a match only when a clearly better one appears.
void MatchPiece(const unsigned char* old, int64_t oldSize, int64_t oldBase, const unsigned char* nw,
                int64_t newSize, int64_t newBase, std::vector<Step>& steps) {
    if (oldSize == 0) {
        steps.push_back({0, newBase, 0, newSize});
        return;
    }
    std::vector<int32_t> sa = SuffixArray::Build(old, static_cast<int32_t>(oldSize));

    int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    while (scan < newSize) {
        int64_t oldScore = 0;
        int64_t scsc = scan += len;
        for (; scan < newSize; ++scan) {
            len = Search(sa, old, oldSize, nw + scan, newSize - scan, pos);
            for (; scsc < scan + len; ++scsc)
                if (scsc + lastOffset >= 0 && scsc + lastOffset < oldSize &&
                    old[scsc + lastOffset] == nw[scsc])
                    ++oldScore;
            if ((len == oldScore && len != 0) || (len > oldScore + 8 && len >= kMinNewMatch)) break;
            if (scan + lastOffset >= 0 && scan + lastOffset < oldSize &&
                old[scan + lastOffset] == nw[scan])
                --oldScore;
        }
        if (len == oldScore && scan != newSize) continue;

        // Forward extension of the previous match.
        int64_t s = 0, best = 0, lenF = 0;
        for (int64_t i = 0; lastScan + i < scan && lastPos + i < oldSize;) {
            if (old[lastPos + i] == nw[lastScan + i]) ++s;
            ++i;
            if (s * 2 - i > best * 2 - lenF) {
                best = s;
                lenF = i;
            }
        }
        // Backward extension of the new match.
        int64_t lenB = 0;
        if (scan < newSize) {
            s = 0;
            best = 0;
            for (int64_t i = 1; scan >= lastScan + i && pos >= i; ++i) {
                if (old[pos - i] == nw[scan - i]) ++s;
                if (s * 2 - i > best * 2 - lenB) {
                    best = s;
                    lenB = i;
                }
            }
        }
        // Where both extensions overlap, split at the best point.
        if (lastScan + lenF > scan - lenB) {
            int64_t overlap = (lastScan + lenF) - (scan - lenB);
            s = 0;
            best = 0;
            int64_t lenS = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (nw[lastScan + lenF - overlap + i] == old[lastPos + lenF - overlap + i]) ++s;
                if (nw[scan - lenB + i] == old[pos - lenB + i]) --s;
                if (s > best) {
                    best = s;
                    lenS = i + 1;
                }
            }
            lenF += lenS - overlap;
            lenB -= lenS;
        }

        int64_t extraLen = (scan - lenB) - (lastScan + lenF);
        steps.push_back({oldBase + lastPos, newBase + lastScan, lenF, extraLen});

        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
}

// Literal runs at least this long go to the stream that packs them smaller.
constexpr size_t kMinPlainRun = 256;

bool PacksBetterPlain(const unsigned char* data, size_t size) {
    if (size < kMinPlainRun) return false;
    std::string run(reinterpret_cast<const char*>(data), size);
    return ZlibWriter::Compress(run, true).size() < ZlibWriter::Compress(run).size();
}

void PutField(std::string& out, uint64_t value, FieldKind kind) {
    PutLE(out, value, FieldWidth(kind));
}

// Writes the sections while walking the steps once.
class DeltaWriter {
public:
    explicit DeltaWriter(DeltaStreams& streams) : streams_(streams) {
        for (size_t i = 0; i < kDeltaSections; ++i)
            writers_.emplace_back(new ZlibWriter(
                [&out = streams.sections[i].compressed](const void* data, size_t size) {
                    out.append(static_cast<const char*>(data), size);
                },
                i == kPlainExtra));
        sparse_.reset(new SparseDiffWriter(*writers_[kDiffRuns], *writers_[kDiffLiterals]));
    }

    void Write(DeltaSectionId section, const std::string& bytes) {
        writers_[section]->Write(bytes.data(), bytes.size());
    }

    void Step(const Step& step, const unsigned char* diff, const unsigned char* extra) {
        const bool plain = PacksBetterPlain(extra, static_cast<size_t>(step.extra));
        std::string triple;
        const uint64_t seek = step.copy > 0 ? static_cast<uint64_t>(step.oldPos) - expected_ : 0;
        PutVarint(triple, ZigZagEncode(static_cast<int64_t>(seek)));
        PutVarint(triple, static_cast<uint64_t>(step.copy));
        PutVarint(triple, static_cast<uint64_t>(step.extra) * 2 + (plain ? 1 : 0));
        Write(kControl, triple);
        sparse_->Write(diff, static_cast<size_t>(step.copy));
        writers_[plain ? kPlainExtra : kExtra]->Write(extra, static_cast<size_t>(step.extra));
        if (step.copy > 0) expected_ = static_cast<uint64_t>(step.oldPos + step.copy);
        expected_ += static_cast<uint64_t>(step.extra);
    }

    void Finish() {
        sparse_->Finish();
        for (size_t i = 0; i < kDeltaSections; ++i) {
            writers_[i]->Finish();
            streams_.sections[i].rawSize = writers_[i]->rawSize();
        }
    }

private:
    DeltaStreams& streams_;
    std::vector<std::unique_ptr<ZlibWriter>> writers_;
    std::unique_ptr<SparseDiffWriter> sparse_;
    uint64_t expected_ = 0;  // where a copy keeping the last displacement starts
};

struct Field {
    uint64_t position;
    FieldKind kind;
    bool copy;
};

// Finds the address fields of the new file and writes the outcome of each
// one inside a copy; returns them all, in order.
std::vector<Field> WriteFields(const CodeLayout& oldLayout, const CodeLayout& newLayout,
                               const std::string& oldData, const std::string& newData,
                               const std::vector<Step>& steps, DeltaWriter& writer) {
    std::vector<Field> fields;
    if (newLayout.empty()) return fields;
    auto nw = reinterpret_cast<const unsigned char*>(newData.data());
    TargetMap map(oldLayout, newLayout);
    FieldWalker walker(newLayout, newData.size());
    std::vector<unsigned char> copied(newData.size());  // old bytes, where the new ones are copied
    for (const Step& step : steps) {
        map.AddCopy(static_cast<uint64_t>(step.oldPos), static_cast<uint64_t>(step.newPos),
                    static_cast<uint64_t>(step.copy));
        std::memcpy(copied.data() + step.newPos, oldData.data() + step.oldPos,
                    static_cast<size_t>(step.copy));
        const uint64_t split = static_cast<uint64_t>(step.newPos + step.copy);
        if (step.copy > 0)
            walker.AddRun({static_cast<uint64_t>(step.newPos), split, true,
                           static_cast<uint64_t>(step.oldPos)});
        if (step.extra > 0) walker.AddRun({split, split + step.extra, false, 0});
    }
    map.Seal();
    std::vector<FoundField> found;
    walker.Walk(nw, copied.data(), 0, newData.size(), found);
    std::string outcomes, values;
    for (const FoundField& field : found) {
        fields.push_back({field.position, field.kind, field.copy});
        if (!field.copy) continue;
        const int width = FieldWidth(field.kind);
        const uint64_t was = GetLE(copied.data() + field.index, width);
        const uint64_t now = GetLE(nw + field.index, width);
        const uint64_t predicted = map.Predict(field, was);
        const int outcome = now == predicted ? 0 : now == was ? 1 : 2;
        outcomes.push_back(static_cast<char>(static_cast<int>(field.kind) << 2 | outcome));
        if (outcome == 2) PutField(values, now - predicted, field.kind);
    }
    writer.Write(kFieldOutcomes, outcomes);
    writer.Write(kFieldValues, values);
    return fields;
}

}  // namespace

DeltaStreams DeltaEncoder::Encode(const std::string& oldData, const std::string& newData,
                                  uint64_t window) {
    auto old = reinterpret_cast<const unsigned char*>(oldData.data());
    auto nw = reinterpret_cast<const unsigned char*>(newData.data());
    const int64_t oldSize = static_cast<int64_t>(oldData.size());
    const int64_t newSize = static_cast<int64_t>(newData.size());
    window = std::min<uint64_t>(std::max<uint64_t>(window, 4096), 0x7FFFFFFFull);

    std::vector<Step> steps;
    if (static_cast<uint64_t>(oldSize) <= window) {
        if (newSize > 0) MatchPiece(old, oldSize, 0, nw, newSize, 0, steps);
    } else {
        // Pieces of half a window of new data, each against a whole window of old
        // data placed around the same relative position.
        const int64_t piece = static_cast<int64_t>(window / 2);
        for (int64_t start = 0; start < newSize; start += piece) {
            int64_t length = std::min(piece, newSize - start);
            int64_t centre = static_cast<int64_t>(static_cast<double>(start) * oldSize /
                                                  std::max<int64_t>(newSize, 1));
            int64_t oldStart = std::clamp<int64_t>(centre - static_cast<int64_t>(window / 4), 0,
                                                   oldSize - static_cast<int64_t>(window));
            MatchPiece(old + oldStart, static_cast<int64_t>(window), oldStart, nw + start, length,
                       start, steps);
        }
    }

    // Address fields only between two program files of the same word size.
    CodeLayout oldLayout = CodeLayout::Detect(old, oldData.size());
    CodeLayout newLayout = CodeLayout::Detect(nw, newData.size());
    if (oldLayout.empty() || newLayout.empty() || oldLayout.is64() != newLayout.is64())
        oldLayout = newLayout = CodeLayout();

    DeltaStreams streams;
    DeltaWriter writer(streams);
    std::string layout;
    oldLayout.Encode(layout);
    newLayout.Encode(layout);
    writer.Write(kLayout, layout);
    std::vector<Field> fields = WriteFields(oldLayout, newLayout, oldData, newData, steps, writer);

    std::vector<unsigned char> diff, extra;
    auto field = fields.begin();
    for (const Step& step : steps) {
        diff.resize(static_cast<size_t>(step.copy));
        for (int64_t i = 0; i < step.copy; ++i)
            diff[i] = static_cast<unsigned char>(nw[step.newPos + i] - old[step.oldPos + i]);
        extra.assign(nw + step.newPos + step.copy, nw + step.newPos + step.copy + step.extra);
        const uint64_t end = static_cast<uint64_t>(step.newPos + step.copy + step.extra);
        for (; field != fields.end() && field->position < end; ++field) {
            const int64_t at = static_cast<int64_t>(field->position) - step.newPos;
            if (field->copy) {
                // The field's value carries the whole change.
                std::fill_n(diff.begin() + at, FieldWidth(field->kind), 0);
            } else if (field->kind == FieldKind::Rel32) {
                unsigned char* bytes = extra.data() + (at - step.copy);
                PutLE(bytes, GetLE(bytes, 4) + field->position + 4, 4);
            }
        }
        writer.Step(step, diff.data(), extra.data());
    }
    writer.Finish();
    return streams;
}

}  // namespace patchlib
