// The patch file layout (documented in FORMAT.md): a fixed header, the
// compressed directory of entries, then each entry's compressed sections in
// directory order. This class encodes and decodes the header and directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/patch_entry.h"
#include "crypto/sha256.h"

namespace patchlib {

struct PatchHeader {
    uint32_t version = 0;
    uint32_t flags = 0;
    uint64_t bodyEnd = 0;  // version 1: the file's size; 2: where the trailing blocks begin
    Digest bodyHash{};     // SHA-256 of the bytes from the end of the header to bodyEnd
};

class PatchFormat {
public:
    static constexpr char kMagic[9] = "MRLPATCH";
    static constexpr uint32_t kVersion = 2;  // written; 1 is still read
    static constexpr size_t kHeaderSize = 56;
    static constexpr size_t kDirectoryPrefixSize = 16;  // compressed and raw size of the directory
    static constexpr uint64_t kMaxDirectorySize = 64ull << 20;

    static std::string EncodeHeader(const PatchHeader& header);
    static constexpr size_t kBlockHeaderSize = 16;  // type, flags, length
    static constexpr uint32_t kBlockNeeded = 1;     // block flag: refuse the patch if unknown
    // Header flag: the patch has InflatedDeltaFile entries, and its directory
    // starts with the version of the zlib that found their parameters.
    static constexpr uint32_t kFlagDeflateStreams = 1;
    // Header flag, only with kFlagDeflateStreams: the patch has
    // InflatedZipDeltaFile entries.
    static constexpr uint32_t kFlagZipFields = 2;

    // Throws PatchError(CorruptPatch) on a wrong magic, version or flags.
    static PatchHeader DecodeHeader(const unsigned char* bytes);

    // zlibVersion: written only with kFlagDeflateStreams in flags.
    static std::string EncodeDirectory(const std::vector<PatchEntry>& entries, uint32_t flags = 0,
                                       const std::string& zlibVersion = {});
    // Throws PatchError(CorruptPatch) when the bytes are not a well-formed
    // directory; section offsets are not filled in here. zlibVersion receives
    // the recorded version when the flags have kFlagDeflateStreams.
    static std::vector<PatchEntry> DecodeDirectory(const std::string& raw, uint32_t version,
                                                   uint32_t flags = 0,
                                                   std::string* zlibVersion = nullptr);
};

}  // namespace patchlib
