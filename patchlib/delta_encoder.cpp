#include "delta_encoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "byte_order.h"
#include "sparse_diff.h"
#include "suffix_array.h"
#include "zlib_writer.h"

namespace patchlib {

namespace {

// Writes the three streams while the matcher runs, compressing on the fly.
class DeltaSink {
public:
    DeltaSink(DeltaStreams& streams)
        : control_(Appender(streams.control.compressed)),
          diffRuns_(Appender(streams.diffRuns.compressed)),
          diffLiterals_(Appender(streams.diffLiterals.compressed)),
          extra_(Appender(streams.extra.compressed)),
          sparseDiff_(diffRuns_, diffLiterals_),
          streams_(streams) {}

    // One step: copy copyLen bytes from absolute old position oldPos (adding the
    // diff), then extraLen literal bytes.
    void Step(int64_t oldPos, int64_t copyLen, const unsigned char* diff, int64_t extraLen,
              const unsigned char* extra) {
        int64_t seek = copyLen > 0 ? oldPos - oldPos_ : 0;
        std::string triple;
        PutVarint(triple, ZigZagEncode(seek));
        PutVarint(triple, static_cast<uint64_t>(copyLen));
        PutVarint(triple, static_cast<uint64_t>(extraLen));
        control_.Write(triple.data(), triple.size());
        sparseDiff_.Write(diff, static_cast<size_t>(copyLen));
        extra_.Write(extra, static_cast<size_t>(extraLen));
        if (copyLen > 0) oldPos_ = oldPos + copyLen;
    }

    void Finish() {
        control_.Finish();
        sparseDiff_.Finish();
        diffRuns_.Finish();
        diffLiterals_.Finish();
        extra_.Finish();
        streams_.control.rawSize = control_.rawSize();
        streams_.diffRuns.rawSize = diffRuns_.rawSize();
        streams_.diffLiterals.rawSize = diffLiterals_.rawSize();
        streams_.extra.rawSize = extra_.rawSize();
    }

private:
    static ZlibWriter::Sink Appender(std::string& out) {
        return [&out](const void* data, size_t size) {
            out.append(static_cast<const char*>(data), size);
        };
    }
    ZlibWriter control_, diffRuns_, diffLiterals_, extra_;
    SparseDiffWriter sparseDiff_;
    DeltaStreams& streams_;
    int64_t oldPos_ = 0;
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

// Matches one piece of the new file against one window of the old file.
// Follows the classic approach: find exact matches with the suffix array,
// extend them forwards and backwards while at least half of the bytes agree,
// and keep going past a match only when a clearly better one appears.
void EncodePiece(const unsigned char* old, int64_t oldSize, int64_t oldBase,
                 const unsigned char* nw, int64_t newSize, DeltaSink& sink) {
    std::vector<unsigned char> diff;
    if (oldSize == 0) {
        sink.Step(0, 0, nullptr, newSize, nw);
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
            if ((len == oldScore && len != 0) || len > oldScore + 8) break;
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

        diff.resize(static_cast<size_t>(lenF));
        for (int64_t i = 0; i < lenF; ++i)
            diff[i] = static_cast<unsigned char>(nw[lastScan + i] - old[lastPos + i]);
        int64_t extraLen = (scan - lenB) - (lastScan + lenF);
        sink.Step(oldBase + lastPos, lenF, diff.data(), extraLen, nw + lastScan + lenF);

        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
}

}  // namespace

DeltaStreams DeltaEncoder::Encode(const std::string& oldData, const std::string& newData,
                                  uint64_t window) {
    DeltaStreams streams;
    DeltaSink sink(streams);
    auto old = reinterpret_cast<const unsigned char*>(oldData.data());
    auto nw = reinterpret_cast<const unsigned char*>(newData.data());
    const int64_t oldSize = static_cast<int64_t>(oldData.size());
    const int64_t newSize = static_cast<int64_t>(newData.size());
    window = std::min<uint64_t>(std::max<uint64_t>(window, 4096), 0x7FFFFFFFull);

    if (static_cast<uint64_t>(oldSize) <= window) {
        if (newSize > 0) EncodePiece(old, oldSize, 0, nw, newSize, sink);
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
            EncodePiece(old + oldStart, static_cast<int64_t>(window), oldStart, nw + start, length,
                        sink);
        }
    }
    sink.Finish();
    return streams;
}

}  // namespace patchlib
