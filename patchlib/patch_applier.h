// Applies a patch file to a directory, all or nothing:
//   1. the patch is verified whole (header, hash of every byte, directory, paths);
//   2. every old file is checked against its size and SHA-256, and every file
//      to be replaced or removed must open for writing, before anything changes;
//   3. each new file is built beside its target ("<name>.mrlpatch-new") and
//      its size and SHA-256 are verified;
//   4. the targets are moved aside ("<name>.mrlpatch-old") and the new files
//      moved in;
//   5. the backups are deleted.
// A failure in steps 1-4 puts every file back and leaves the tree as it was.
// A tree that already holds every new file counts as patched (a run that
// stopped between applying a patch and recording it gets 0 on the next try).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ecdsa_p256.h"
#include "patch_error.h"

namespace patchlib {

struct ApplyOptions {
    // Consulted before each change to the file system with the step's name
    // ("mkdir", "create", "open-write", "backup", "install", "restore") and the
    // path; false makes that step fail as if the system refused it. Lets tests
    // reach failures that a privileged user would not otherwise see.
    std::function<bool(const std::string& step, const std::filesystem::path& path)> allowStep;
    // When not empty, only a patch signed by one of these keys is applied.
    std::vector<PublicKey> trustedKeys;
};

struct ApplySummary {
    size_t filesWritten = 0;
    size_t filesDeleted = 0;
    size_t directoriesCreated = 0;
    size_t directoriesRemoved = 0;
    size_t backupsLeft = 0;  // backups that could not be deleted after success
    bool alreadyApplied = false;
};

class PatchApplier {
public:
    explicit PatchApplier(ApplyOptions options = {}) : options_(std::move(options)) {}

    // Returns Ok or the failure's code; message receives a line for the user.
    PatchResult Apply(const std::filesystem::path& patchFile, const std::filesystem::path& root,
                      std::string* message = nullptr, ApplySummary* summary = nullptr);

private:
    ApplyOptions options_;
};

}  // namespace patchlib
