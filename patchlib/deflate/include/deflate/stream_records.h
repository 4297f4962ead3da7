// The streams section of an InflatedDeltaFile entry (FORMAT.md): where the
// old file's streams lie, then where the new file's lie and the parameters
// that rebuild them. Read one record at a time, so a file with any number of
// streams costs the applier no more memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "deflate/deflate_stream.h"
#include "zlib/zlib_reader.h"

namespace patchlib {

struct StreamRecord {
    uint64_t gap = 0;  // plain bytes between the previous stream (or the start) and this one
    uint64_t compressedSize = 0;
    uint64_t rawSize = 0;
    DeflateParams params;  // the new file's streams only
};

struct DateBases {
    uint32_t oldBase = 0;
    uint32_t newBase = 0;
};

class StreamRecords {
public:
    static std::string Encode(const std::vector<DeflateStream>& oldStreams,
                              const std::vector<DeflateStream>& newStreams,
                              const DateBases* bases = nullptr);
    // The size of a file of `size` bytes with these streams inflated.
    static uint64_t ExpandedSize(uint64_t size, const std::vector<DeflateStream>& streams);
    static std::vector<StreamRecord> ToRecords(const std::vector<DeflateStream>& streams);
};

// Reads one side's list from a section opened on `reader`; throws
// PatchError(CorruptPatch) on a malformed record.
class StreamRecordReader {
public:
    enum class Side { Old, New };
    // withBases: the section starts with the date bases (zip header fields).
    StreamRecordReader(ZlibReader& reader, Side side, bool withBases = false);
    const DateBases& bases() const { return bases_; }
    // False once the list is done (for the new side, the section must end there).
    bool Next(StreamRecord& record);

private:
    ZlibReader& reader_;
    Side side_;
    uint64_t left_ = 0;
    DateBases bases_;
    void Read(StreamRecord& record, bool withParams);
};

}  // namespace patchlib
