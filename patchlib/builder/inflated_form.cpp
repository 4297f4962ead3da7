#include "inflated_form.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/byte_order.h"
#include "common/patch_error.h"
#include "deflate/stream_expander.h"
#include "deflate/stream_finder.h"
#include "deflate/stream_rebuilder.h"
#include "deflate/stream_records.h"
#include "deflate/zip_header_fields.h"
#include "zlib/zlib_reader.h"
#include "zlib/zlib_writer.h"

namespace patchlib {

namespace {

// Decodes the zip header fields and deflates the new file's streams again as
// the applier will, and compares.
bool Rebuilds(const std::string& expanded, const std::vector<DeflateStream>& streams,
              const DateBases* bases, const Digest& newHash) {
    const std::vector<StreamRecord> records = StreamRecords::ToRecords(streams);
    size_t next = 0;
    Sha256 hash;
    try {
        StreamRebuilder rebuilder(
            [&](StreamRecord& record) {
                if (next == records.size()) return false;
                record = records[next++];
                return true;
            },
            [&hash](const void* data, size_t size) { hash.Update(data, size); });
        if (bases) {
            ZipHeaderFields fields(
                bases->newBase, ZipHeaderFields::Direction::Decode,
                [&rebuilder](const void* data, size_t size) { rebuilder.Write(data, size); });
            fields.Write(expanded.data(), expanded.size());
            fields.Finish();
        } else {
            rebuilder.Write(expanded.data(), expanded.size());
        }
        rebuilder.Finish();
    } catch (const PatchError&) {
        return false;
    }
    return hash.Final() == newHash;
}

// The compressed bytes of each stream.
std::unordered_set<std::string_view> Compressed(std::string_view data,
                                                const std::vector<DeflateStream>& streams) {
    std::unordered_set<std::string_view> out;
    for (const DeflateStream& stream : streams)
        out.insert(data.substr(stream.offset, stream.compressedSize));
    return out;
}

// Where each stream's content lies in the expanded form.
struct Range {
    uint64_t begin, end;
};

std::vector<Range> Ranges(const std::vector<DeflateStream>& streams) {
    std::vector<Range> out;
    uint64_t grown = 0, shrunk = 0;
    for (const DeflateStream& stream : streams) {
        const uint64_t begin = stream.offset + grown - shrunk;
        out.push_back({begin, begin + stream.rawSize});
        grown += stream.rawSize;
        shrunk += stream.compressedSize;
    }
    return out;
}

// Adds to `counts` the bytes of [begin, end) inside each of the sorted ranges.
void Credit(const std::vector<Range>& ranges, uint64_t begin, uint64_t end,
            std::vector<uint64_t>& counts) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), begin,
                               [](uint64_t at, const Range& range) { return at < range.end; });
    for (; it != ranges.end() && it->begin < end; ++it)
        counts[it - ranges.begin()] += std::min(end, it->end) - std::max(begin, it->begin);
}

// Which streams pay for their work on the applying side: a new stream whose
// content the delta mostly writes as literal bytes (an added entry) costs
// about as much stored compressed, without deflating it again; an old stream
// nothing is copied from needs no inflating. Walks the control section
// (FORMAT.md, "Delta sections") and drops those streams; true when it did.
bool KeepUseful(const DeltaStreams& delta, std::vector<DeflateStream>& oldStreams,
                std::vector<std::string>& oldContents, std::vector<DeflateStream>& newStreams,
                std::vector<std::string>& newContents) {
    const std::vector<Range> oldRanges = Ranges(oldStreams), newRanges = Ranges(newStreams);
    std::vector<uint64_t> fromOld(oldRanges.size()), intoNew(newRanges.size());
    const DeltaSection& control = delta.sections[kControl];
    ZlibReader steps;
    steps.OpenBytes(reinterpret_cast<const unsigned char*>(control.compressed.data()),
                    control.compressed.size(), control.rawSize);
    uint64_t expected = 0, produced = 0;
    while (steps.remaining() > 0) {
        const uint64_t seek = steps.ReadVarint(), copy = steps.ReadVarint();
        const uint64_t extra = steps.ReadVarint() >> 1;
        if (copy > 0) {
            const uint64_t from = expected + static_cast<uint64_t>(ZigZagDecode(seek));
            Credit(oldRanges, from, from + copy, fromOld);
            Credit(newRanges, produced, produced + copy, intoNew);
            expected = from + copy;
        }
        expected += extra;
        produced += copy + extra;
    }
    bool dropped = false;
    auto keep = [&dropped](std::vector<DeflateStream>& streams, std::vector<std::string>& contents,
                           auto useful) {
        size_t kept = 0;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (!useful(i)) continue;
            if (kept != i) {
                streams[kept] = streams[i];
                contents[kept] = std::move(contents[i]);
            }
            ++kept;
        }
        dropped |= kept != streams.size();
        streams.resize(kept);
        contents.resize(kept);
    };
    keep(oldStreams, oldContents, [&](size_t i) { return fromOld[i] > 0; });
    keep(newStreams, newContents,
         [&](size_t i) { return 2 * intoNew[i] >= newStreams[i].rawSize; });
    return dropped;
}

}  // namespace

// A stream whose compressed bytes the other file holds as a stream too is
// left compressed on both sides: the delta copies it as it is, and the
// applier neither inflates nor deflates it, which is most of its work.
InflatedForm InflatedForm::Of(const std::string& oldData, const std::string& newData,
                              const Digest& newHash, uint64_t window) {
    InflatedForm form;
    const std::vector<DeflateStream> oldLocated = StreamFinder::Locate(oldData);
    const std::vector<DeflateStream> newLocated = StreamFinder::Locate(newData);
    const auto oldSet = Compressed(oldData, oldLocated), newSet = Compressed(newData, newLocated);
    auto changed = [](const std::string& data, const std::unordered_set<std::string_view>& other) {
        return [&data, &other](const DeflateStream& stream) {
            return !other.count(
                std::string_view(data).substr(stream.offset, stream.compressedSize));
        };
    };
    std::vector<std::string> oldContents, newContents;
    std::vector<DeflateStream> newStreams =
        StreamFinder::Select(newData, newLocated, changed(newData, oldSet), &newContents);
    // Zip headers in the new file: their dates and repeated fields are recoded
    // in both forms, so that an archive whose entries all changed date costs
    // almost nothing.
    size_t oldHeaders = 0, newHeaders = 0;
    DateBases bases;
    bases.newBase = ZipHeaderFields::CommonDate(
        StreamExpander::Expand(newData, newStreams, newContents), newHeaders);
    // A program that reads zips holds a signature or two in its code: a
    // zip of two entries has four headers.
    form.zipFields = newHeaders >= 4;
    if (newStreams.empty() && !form.zipFields) return form;
    std::vector<DeflateStream> oldStreams =
        StreamFinder::Select(oldData, oldLocated, changed(oldData, newSet), &oldContents);
    const DateBases* used = form.zipFields ? &bases : nullptr;
    auto expand = [used](const std::string& data, const std::vector<DeflateStream>& streams,
                         const std::vector<std::string>& contents, uint32_t base) {
        std::string out = StreamExpander::Expand(data, streams, contents);
        return used ? ZipHeaderFields::Encode(out, base) : out;
    };
    bases.oldBase = ZipHeaderFields::CommonDate(
        StreamExpander::Expand(oldData, oldStreams, oldContents), oldHeaders);
    std::string oldExpanded = expand(oldData, oldStreams, oldContents, bases.oldBase);
    std::string newExpanded = expand(newData, newStreams, newContents, bases.newBase);
    form.delta = DeltaEncoder::Encode(oldExpanded, newExpanded, window);
    if (KeepUseful(form.delta, oldStreams, oldContents, newStreams, newContents)) {
        if (newStreams.empty() && !form.zipFields) return form;
        oldExpanded = expand(oldData, oldStreams, oldContents, bases.oldBase);
        newExpanded = expand(newData, newStreams, newContents, bases.newBase);
        form.delta = DeltaEncoder::Encode(oldExpanded, newExpanded, window);
    }
    if (!Rebuilds(newExpanded, newStreams, used, newHash)) return form;
    const std::string records = StreamRecords::Encode(oldStreams, newStreams, used);
    form.records = ZlibWriter::Compress(records);
    form.recordsSize = records.size();
    form.usable = true;
    return form;
}

}  // namespace patchlib
