// Builds the new file of an InflatedDeltaFile entry: the old file with its
// streams inflated goes to a scratch file beside it ("<file>.mrlpatch-tmp",
// removed here and by the journal), the delta turns that into the new file's
// expanded form, and the new file's streams are deflated again on the way to
// the sink. Memory stays fixed whatever the sizes; the caller checks the
// result's size and SHA-256.
#pragma once

#include <filesystem>
#include <functional>

#include "format/patch_entry.h"
#include "format/patch_reader.h"

namespace patchlib {

class InflatedDelta {
public:
    using Sink = std::function<void(const void* data, size_t size)>;
    // Throws when the applier's options refuse a step ("create" before the
    // scratch file is made, "expand" once it is written).
    using Allow = std::function<void(const char* step, const std::filesystem::path& path)>;
    static void Apply(const PatchReader& reader, const PatchEntry& entry,
                      const std::filesystem::path& oldFile, const std::filesystem::path& scratch,
                      const Allow& allow, const Sink& sink);
};

}  // namespace patchlib
