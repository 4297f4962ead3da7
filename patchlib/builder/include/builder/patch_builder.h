// Builds a patch from an old and a new tree: directories and files added,
// files removed, and changed files stored as a binary delta or whole,
// whichever is smaller. Swapping the trees gives the downgrade patch.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "delta/delta_encoder.h"
#include "crypto/ecdsa_p256.h"

namespace patchlib {

struct BuildSummary {
    size_t filesAdded = 0, filesChanged = 0, filesRemoved = 0, filesUnchanged = 0;
    size_t deltas = 0;          // changed files stored as a delta (the rest whole)
    size_t inflatedDeltas = 0;  // of those, deltas over inflated deflate streams
    size_t directoriesAdded = 0, directoriesRemoved = 0;
    uint64_t oldTreeBytes = 0, newTreeBytes = 0;
    uint64_t bytesAdded = 0;    // new content of added files
    uint64_t bytesChanged = 0;  // new content of changed files
    uint64_t bytesRemoved = 0;  // old content of removed files
    uint64_t patchBytes = 0;
};

struct BuildOptions {
    uint64_t window = DeltaEncoder::kDefaultWindow;
    // Called before each file with the bytes handled so far and in all.
    std::function<void(uint64_t done, uint64_t total, const std::string& path)> progress;
    // When set, the patch is signed with this key.
    const KeyPair* signingKey = nullptr;
};

class PatchBuilder {
public:
    // Throws PatchError with a message naming the offending path.
    static BuildSummary Build(const std::filesystem::path& oldRoot,
                              const std::filesystem::path& newRoot,
                              const std::filesystem::path& out, const BuildOptions& options = {});
};

}  // namespace patchlib
