// The journal of an application in progress: ".mrlpatch-journal" in the
// directory being patched, written whole and flushed before the first change,
// given its commit point once every new file is in place, removed after the
// last step. It names every file the application moves and every directory it
// creates or removes; from it and from what is on disk, the next application
// puts back, or finishes, one that was cut short. Finishing removes the
// backups; one still in use waits for a later run (LeftoverList). Every
// decision is taken again from the disk, file by file, so settling a journal
// twice (a second stop half-way through) comes to the same tree. Format: FORMAT.md, "Journal".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/binary_file.h"
#include "common/patch_error.h"

namespace patchlib {

// The applier's test hook (ApplyOptions::allowStep): asked before each change.
using StepFilter = std::function<bool(const std::string& step, const std::filesystem::path& path)>;

class ApplyJournal {
public:
    enum class Kind : uint8_t {
        Replaced = 1,  // the file is moved aside and a new one moved in
        Added = 2,     // a new file where there was none
        Deleted = 3,   // the file is moved aside
        MadeDir = 4,   // created by the application (parents first)
        DoomedDir = 5  // removed once empty after the commit point (parents first)
    };

    ApplyJournal(const std::filesystem::path& root, const StepFilter& allowStep);

    void Add(Kind kind, const std::string& path) { records_.push_back({kind, path}); }

    // Each throws PatchError (WriteFailed); a journal that could not be written
    // whole is removed again.
    void Write();
    void Commit();

    // Puts the tree back (forward: false) or finishes the application, then
    // removes the journal. False when a step failed: the journal stays.
    bool Settle(bool forward);

    // Settles the journal a stopped application left in root, if any. Ok: none,
    // a damaged one (it was being written: nothing had changed; it is removed),
    // or settled. UnsafePath: it names a path outside the tree or through a
    // link; nothing is touched. RollbackFailed: a step failed. Then, unless it
    // failed, removes the backups that were in use and are free now
    // (LeftoverList).
    static PatchResult Recover(const std::filesystem::path& root, const StepFilter& allowStep,
                               std::string& message);

private:
    struct Record {
        Kind kind;
        std::string path;
    };
    std::filesystem::path root_, file_;
    StepFilter allowStep_;
    BinaryFile out_;  // the journal written, until its commit mark
    std::vector<Record> records_;

    static PatchResult RecoverJournal(const std::filesystem::path& root,
                                      const StepFilter& allowStep, std::string& message);
    std::string EncodeRecords() const;
    bool Decode(const std::string& bytes, bool& committed);
    bool IsSafeOnDisk() const;
    bool Allow(const char* step, const std::filesystem::path& path) const;
    bool Remove(const std::filesystem::path& path) const;
    bool RemoveEmptyDirectory(const std::filesystem::path& path) const;
    void SyncParents() const;
};

}  // namespace patchlib
