// Opens a patch file for application: checks the header, the signature when
// keys are trusted, the body hash over every byte after the header, the
// directory and the layout of the sections, and refuses any path that could
// leave the target directory. Nothing is read into memory beyond the directory.
#pragma once

#include <filesystem>
#include <vector>

#include "crypto/ecdsa_p256.h"
#include "format/patch_entry.h"
#include "zlib/zlib_reader.h"

namespace patchlib {

class PatchReader {
public:
    // Throws PatchError: CannotReadPatch, CorruptPatch, UnsafePath, or
    // Untrusted when `trusted` is not empty and none of those keys signed it.
    void Open(const std::filesystem::path& file, const std::vector<PublicKey>& trusted = {});
    const std::vector<PatchEntry>& entries() const { return entries_; }
    uint32_t version() const { return version_; }
    void OpenSection(const Section& section, ZlibReader& reader) const;

private:
    std::filesystem::path file_;
    std::vector<PatchEntry> entries_;
    uint32_t version_ = 0;
    uint32_t flags_ = 0;
    void VerifyBodyHash(BinaryFile& file, uint64_t size, const Digest& expected);
    // Returns the contents of the signature blocks.
    std::vector<std::string> ReadBlocks(BinaryFile& file, uint64_t bodyEnd, uint64_t size);
    void ReadDirectory(uint64_t size);
    void CheckZlibVersion(const std::string& recorded) const;
    void PlaceSections(uint64_t start, uint64_t size);
    void CheckEntries() const;
};

}  // namespace patchlib
