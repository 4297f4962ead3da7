// The applier's side of the binary delta (see delta_encoder.h for the four
// streams). Streams everything: the old file is read at random positions
// through a fixed cache, the streams and the output go through fixed buffers,
// so memory stays the same whatever the file sizes.
#pragma once

#include <cstdint>
#include <functional>

#include "binary_file.h"
#include "zlib_reader.h"

namespace patchlib {

class DeltaApplier {
public:
    using Sink = std::function<void(const void* data, size_t size)>;

    // Produces exactly newSize bytes into out, or throws PatchError(CorruptPatch)
    // when the streams are inconsistent (a copy outside the old file, too much or
    // too little data) and PatchError(TreeMismatch) when the old file cannot be read.
    static void Apply(BinaryFile& oldFile, uint64_t oldSize, ZlibReader& control,
                      ZlibReader& diffRuns, ZlibReader& diffLiterals, ZlibReader& extra,
                      uint64_t newSize, const Sink& out);
};

}  // namespace patchlib
