#include "inflated_form.h"

#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/patch_error.h"
#include "deflate/stream_expander.h"
#include "deflate/stream_finder.h"
#include "deflate/stream_rebuilder.h"
#include "deflate/stream_records.h"
#include "deflate/zip_header_fields.h"
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

}  // namespace

namespace {

// The compressed bytes of each stream.
std::unordered_set<std::string_view> Compressed(std::string_view data,
                                                const std::vector<DeflateStream>& streams) {
    std::unordered_set<std::string_view> out;
    for (const DeflateStream& stream : streams)
        out.insert(data.substr(stream.offset, stream.compressedSize));
    return out;
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
    const std::vector<DeflateStream> newStreams =
        StreamFinder::Select(newData, newLocated, changed(newData, oldSet), &newContents);
    std::string newExpanded = StreamExpander::Expand(newData, newStreams, newContents);
    newContents.clear();
    // Zip headers in the new file: their dates and repeated fields are recoded
    // in both forms, so that an archive whose entries all changed date costs
    // almost nothing.
    size_t oldHeaders = 0, newHeaders = 0;
    DateBases bases;
    bases.newBase = ZipHeaderFields::CommonDate(newExpanded, newHeaders);
    form.zipFields = newHeaders > 0;
    if (newStreams.empty() && !form.zipFields) return form;
    const std::vector<DeflateStream> oldStreams =
        StreamFinder::Select(oldData, oldLocated, changed(oldData, newSet), &oldContents);
    std::string oldExpanded = StreamExpander::Expand(oldData, oldStreams, oldContents);
    oldContents.clear();
    bases.oldBase = ZipHeaderFields::CommonDate(oldExpanded, oldHeaders);
    if (form.zipFields) {
        oldExpanded = ZipHeaderFields::Encode(oldExpanded, bases.oldBase);
        newExpanded = ZipHeaderFields::Encode(newExpanded, bases.newBase);
    }
    const DateBases* used = form.zipFields ? &bases : nullptr;
    if (!Rebuilds(newExpanded, newStreams, used, newHash)) return form;
    const std::string records = StreamRecords::Encode(oldStreams, newStreams, used);
    form.records = ZlibWriter::Compress(records);
    form.recordsSize = records.size();
    form.delta = DeltaEncoder::Encode(oldExpanded, newExpanded, window);
    form.usable = true;
    return form;
}

}  // namespace patchlib
