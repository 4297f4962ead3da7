// Opens a patch file for application: checks the header, the signature when
// keys are trusted, the body hash over every byte after the header, the
// directory and the layout of the sections, and refuses any path that could
// leave the target directory. Nothing is read into memory beyond the directory.
// The file is opened once and every byte, checked or applied, is read through
// that handle (SealedFile); the directory is decoded from the very bytes the
// hash covered, and each section the applier reads is checked through the
// rebuilt file's hash, which that directory holds.
#pragma once

#include <filesystem>
#include <vector>

#include "common/sealed_file.h"
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
    SealedFile file_;
    std::vector<PatchEntry> entries_;
    uint32_t version_ = 0;
    uint32_t flags_ = 0;
    // Returns the directory's prefix and compressed bytes, read while hashed.
    std::string VerifyBodyHash(uint64_t size, const Digest& expected);
    // Returns the contents of the signature blocks.
    std::vector<std::string> ReadBlocks(uint64_t bodyEnd, uint64_t size);
    void ReadDirectory(const std::string& directory, uint64_t size);
    void CheckZlibVersion(const std::string& recorded) const;
    void PlaceSections(uint64_t start, uint64_t size);
    void CheckEntries() const;
};

}  // namespace patchlib
