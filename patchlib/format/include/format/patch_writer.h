// Writes a patch file: entries with their compressed sections go to a scratch
// payload file beside the output; Finish writes the header and directory in
// front of it, hashes the body, signs the header when given a key and moves
// the result into place, so a half-written or unsigned patch never carries
// the final name.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/binary_file.h"
#include "crypto/ecdsa_p256.h"
#include "format/patch_entry.h"

namespace patchlib {

class PatchWriter {
public:
    explicit PatchWriter(const std::filesystem::path& out, const KeyPair* signingKey = nullptr);
    ~PatchWriter();
    PatchWriter(const PatchWriter&) = delete;
    PatchWriter& operator=(const PatchWriter&) = delete;

    // An entry whose sections are already compressed (one string per section,
    // the entry's section sizes are filled in from them and rawSizes).
    void Add(PatchEntry entry, const std::vector<std::string>& compressed,
             const std::vector<uint64_t>& rawSizes);
    // An entry storing a file whole, compressed as it streams.
    void AddStored(PatchEntry entry, const std::filesystem::path& source);
    // Returns the size of the finished patch file.
    uint64_t Finish();
    // The zlib version written for InflatedDeltaFile entries (default: the
    // linked one); lets a test make a patch from another zlib.
    void RecordZlibVersion(std::string version) { zlibVersion_ = std::move(version); }

private:
    std::filesystem::path out_, payloadPath_, tempPath_;
    const KeyPair* signingKey_;
    BinaryFile payload_;
    std::vector<PatchEntry> entries_;
    bool finished_ = false;
    std::string zlibVersion_;
    void WritePayload(const void* data, size_t size);
};

}  // namespace patchlib
