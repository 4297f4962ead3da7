// The expanded form of a file: its bytes with every listed deflate stream
// replaced by the content it inflates to. The delta of an InflatedDeltaFile
// entry turns the old file's expanded form into the new file's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/binary_file.h"
#include "deflate/deflate_stream.h"
#include "deflate/stream_records.h"

namespace patchlib {

class StreamExpander {
public:
    // The builder's side: the streams (in file order) and their contents.
    static std::string Expand(std::string_view data, const std::vector<DeflateStream>& streams,
                              const std::vector<std::string>& inflated);

    using Sink = std::function<void(const void* data, size_t size)>;
    // The applier's side: streams `in` (`size` bytes, read from its start)
    // into `out` through fixed buffers and returns the expanded size. Throws
    // PatchError(CorruptPatch) when a record does not fit the file or its
    // stream inflates to anything else than the record says.
    static uint64_t Expand(BinaryFile& in, uint64_t size, StreamRecordReader& records,
                           const Sink& out);
};

}  // namespace patchlib
