// The applier's side of the binary delta (delta_encoder.h and FORMAT.md have
// the sections). Streams everything: the old file is read at random positions
// through a fixed cache, the sections and the output go through fixed buffers,
// and the address map keeps at most TargetMap::kMaxCopies moves, so memory
// stays the same whatever the file sizes.
#pragma once

#include <cstdint>
#include <functional>

#include "common/binary_file.h"
#include "format/patch_entry.h"
#include "zlib/zlib_reader.h"

namespace patchlib {

class DeltaApplier {
public:
    using Sink = std::function<void(const void* data, size_t size)>;
    // Opens one section of the delta (a section may be opened more than once).
    using Opener = std::function<void(DeltaSectionId section, ZlibReader& reader)>;

    // Produces exactly newSize bytes into out, or throws PatchError(CorruptPatch)
    // when the sections are inconsistent (a copy outside the old file, too much
    // or too little data, a malformed layout or field) and
    // PatchError(TreeMismatch) when the old file cannot be read. version: the
    // patch format's, 1 or 2.
    static void Apply(BinaryFile& oldFile, uint64_t oldSize, uint64_t newSize, uint32_t version,
                      const Opener& open, const Sink& out);
};

}  // namespace patchlib
