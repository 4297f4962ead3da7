// Applies a patch file to a directory, all or nothing:
//   1. an application that was stopped half-way (its journal is there) is
//      put back or finished first;
//   2. the patch is verified whole (header, hash of every byte, directory, paths);
//   3. every old file is checked against its size and SHA-256, and every file
//      to be replaced or removed must open for writing, before anything changes;
//   4. the journal is written (ApplyJournal);
//   5. each new file is built beside its target ("<name>.mrlpatch-new") and
//      its size and SHA-256 are verified;
//   6. the targets are moved aside ("<name>.mrlpatch-old") and the new files
//      moved in; the journal is marked committed;
//   7. the backups are deleted, then the journal. A backup still in use (the
//      running updater, the library applying the patch) is moved to
//      "<name>.mrlpatch-gone" for a later run to delete (LeftoverList).
// A failure in steps 2-6 puts every file back and leaves the tree as it was; so
// does the next application after a stop before the commit point, and after
// it, the next one finishes this one.
// A tree that already holds every new file counts as patched (a run that
// stopped between applying a patch and recording it gets 0 on the next try).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "crypto/ecdsa_p256.h"
#include "common/patch_error.h"

namespace patchlib {

struct ApplyOptions {
    // Consulted before each change to the file system with the step's name
    // ("journal", "mkdir", "create", "expand", "open-write", "backup",
    // "install", "commit", "restore", "remove", "list", "put-aside", "rmdir")
    // and the path; false makes that step fail as if the system refused it.
    // Lets tests reach failures that a privileged user would not otherwise
    // see, and stop the process at any step.
    std::function<bool(const std::string& step, const std::filesystem::path& path)> allowStep;
    // When not empty, only a patch signed by one of these keys is applied.
    std::vector<PublicKey> trustedKeys;
};

struct ApplySummary {
    size_t filesWritten = 0;
    size_t filesDeleted = 0;
    bool alreadyApplied = false;
    bool cleanupLeft = false;  // backups or the journal stayed; the next application removes them
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
