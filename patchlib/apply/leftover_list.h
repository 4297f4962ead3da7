// Backups the applier could not remove once a patch was in, because they
// were still in use: a running program or a loaded library that the patch
// replaced (Windows renames such a file but neither writes nor removes it).
// Each waits as "<file>.mrlpatch-gone", named in the list ".mrlpatch-gone" at
// the top of the tree, until a later application, or the settling a run asks
// for first, removes it. A line ending in '/' names a directory the patch
// removes, which such a file kept. The list is read back as outside input: a line that
// fails the path rule or leads through a link is dropped, and only a plain
// file at a waiting name is ever removed. Format: FORMAT.md, "Journal".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "apply/apply_journal.h"

namespace patchlib {

class LeftoverList {
public:
    LeftoverList(const std::filesystem::path& root, const StepFilter& allowStep);

    // Lists the files, and the directories the patch removes once empty
    // (a waiting file may keep one), then moves each file's backup to its
    // waiting name (a stop in between leaves names that are not there yet:
    // harmless). False when one could not be moved: its backup stays.
    bool PutAside(const std::vector<std::string>& paths,
                  const std::vector<std::string>& doomedDirs) const;

    // Removes the waiting files that are free now, then the listed
    // directories they kept, once empty; the list keeps the rest.
    void Clear() const;

private:
    std::filesystem::path root_, list_;
    StepFilter allowStep_;

    std::filesystem::path Waiting(const std::string& path) const;
    std::vector<std::string> Read() const;
    bool Write(const std::vector<std::string>& paths) const;
    bool RemoveIfThere(const std::filesystem::path& path) const;
    bool Allow(const char* step, const std::filesystem::path& path) const;
};

}  // namespace patchlib
