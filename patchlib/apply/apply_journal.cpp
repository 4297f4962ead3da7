#include "apply/apply_journal.h"

#include <algorithm>
#include <set>

#include "common/binary_file.h"
#include "common/byte_order.h"
#include "durable_fs.h"
#include "leftover_list.h"
#include "names/patch_path.h"
#include "crypto/sha256.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

const std::string kMagic = "MRLJRNL1", kCommitMagic = "MRLCOMMT";
const size_t kHeaderSize = 48;
// Records of a patch directory's paths take less room than the directory.
const uint64_t kMaxRecords = uint64_t{64} << 20;

bool IsDirectory(ApplyJournal::Kind kind) {
    return kind == ApplyJournal::Kind::MadeDir || kind == ApplyJournal::Kind::DoomedDir;
}

std::string CommitMark(const Digest& hash) {
    return kCommitMagic + std::string(hash.begin(), hash.end());
}

}  // namespace

ApplyJournal::ApplyJournal(const fs::path& root, const StepFilter& allowStep)
    : root_(root), file_(root / kJournalName), allowStep_(allowStep) {}

bool ApplyJournal::Allow(const char* step, const fs::path& path) const {
    return !allowStep_ || allowStep_(step, path);
}

std::string ApplyJournal::EncodeRecords() const {
    std::string out;
    for (const Record& record : records_) {
        out.push_back(static_cast<char>(record.kind));
        PutLE(out, record.path.size(), 2);
        out += record.path;
    }
    return out;
}

void ApplyJournal::Write() {
    const std::string records = EncodeRecords();
    const Digest hash = Sha256::Of(records.data(), records.size());
    std::string bytes = kMagic;
    PutLE(bytes, records.size(), 8);
    bytes.append(hash.begin(), hash.end());
    bytes += records;
    if (!Allow("journal", file_))
        throw PatchError(PatchResult::WriteFailed, "cannot write the journal");
    // Created exclusively, never through a link, and kept open for its commit mark.
    if (!out_.CreateNew(file_))
        throw PatchError(PatchResult::WriteFailed, "cannot create the journal");
    if (out_.Write(bytes.data(), bytes.size()) && out_.Sync()) {
        SyncDirectory(root_);
        return;
    }
    out_.Close();
    RemovePlainFile(file_);
    throw PatchError(PatchResult::WriteFailed, "cannot write the journal");
}

void ApplyJournal::Commit() {
    SyncParents();  // every move on disk before the mark that keeps them
    const std::string records = EncodeRecords();
    const std::string mark = CommitMark(Sha256::Of(records.data(), records.size()));
    if (!Allow("commit", file_) || !out_.Seek(kHeaderSize + records.size()) ||
        !out_.Write(mark.data(), mark.size()) || !out_.Sync() || !out_.Close())
        throw PatchError(PatchResult::WriteFailed, "cannot mark the journal committed");
}

bool ApplyJournal::Remove(const fs::path& path) const {
    if (!fs::exists(StatusOf(path))) return true;
    return Allow("remove", path) && RemovePlainFile(path);
}

// A directory that holds something else than ours stays: it is the player's.
bool ApplyJournal::RemoveEmptyDirectory(const fs::path& path) const {
    std::error_code ec;
    if (!fs::is_directory(StatusOf(path)) || !fs::is_empty(path, ec)) return true;
    return Allow("rmdir", path) && fs::remove(path, ec);
}

void ApplyJournal::SyncParents() const {
    std::set<fs::path> directories = {root_};
    for (const Record& record : records_)
        directories.insert((root_ / fs::u8path(record.path)).parent_path());
    for (const fs::path& directory : directories) SyncDirectory(directory);
}

bool ApplyJournal::Settle(bool forward) {
    out_.Close();  // Windows removes no file that is open without shared deletion
    bool ok = true;
    std::vector<std::string> inUse;  // backups of running programs and loaded libraries
    for (const Record& record : records_) {
        if (IsDirectory(record.kind)) continue;
        const fs::path target = root_ / fs::u8path(record.path);
        const fs::path backup = WithSuffix(target, kOldSuffix);
        if (record.kind == Kind::Added) {
            if (!forward) ok &= Remove(target);
        } else if (forward) {
            if (!Remove(backup)) inUse.push_back(record.path);
        } else if (fs::exists(StatusOf(backup))) {
            // The target is the new file or gone: the backup takes its place.
            ok &= Allow("restore", backup) && MoveReplacing(backup, target);
        }
        ok &= Remove(WithSuffix(target, kNewSuffix));
        ok &= Remove(WithSuffix(target, kScratchSuffix));
    }
    // Out of the way of the next patch that changes them, until they are free.
    if (!inUse.empty()) {
        std::vector<std::string> doomed;
        for (const Record& record : records_)
            if (record.kind == Kind::DoomedDir) doomed.push_back(record.path);
        ok &= LeftoverList(root_, allowStep_).PutAside(inUse, doomed);
    }
    // Children before parents.
    for (auto it = records_.rbegin(); it != records_.rend(); ++it)
        if (it->kind == (forward ? Kind::DoomedDir : Kind::MadeDir))
            ok &= RemoveEmptyDirectory(root_ / fs::u8path(it->path));
    if (!ok) return false;
    SyncParents();
    return Remove(file_);
}

bool ApplyJournal::Decode(const std::string& bytes, bool& committed) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < kHeaderSize || bytes.compare(0, kMagic.size(), kMagic) != 0) return false;
    const uint64_t size = GetLE(data + 8, 8);
    if (size > bytes.size() - kHeaderSize) return false;
    const Digest hash = Sha256::Of(data + kHeaderSize, static_cast<size_t>(size));
    if (!std::equal(hash.begin(), hash.end(), data + 16)) return false;
    for (size_t at = kHeaderSize, end = kHeaderSize + static_cast<size_t>(size); at < end;) {
        if (end - at < 3) return false;
        const auto kind = static_cast<Kind>(data[at]);
        const size_t length = static_cast<size_t>(GetLE(data + at + 1, 2));
        if (data[at] < 1 || data[at] > 5 || length > end - at - 3) return false;
        records_.push_back({kind, bytes.substr(at + 3, length)});
        at += 3 + length;
    }
    // A mark cut short was being written: every move is still undone-able.
    committed = bytes.compare(kHeaderSize + size, std::string::npos, CommitMark(hash)) == 0;
    return true;
}

// Written by an application whose patch passed the path rule, a journal that
// fails it was not written by us; nor may a link take recovery elsewhere, be
// it on the way to a recorded path or at one of our scratch names beside it.
// (The moves and removals act on the names themselves, never through them.)
bool ApplyJournal::IsSafeOnDisk() const {
    for (const Record& record : records_) {
        if (!PatchPath::IsSafe(record.path) || LinkOnTheWay(root_, record.path)) return false;
        const fs::path target = root_ / fs::u8path(record.path);
        if (!IsDirectory(record.kind) && (!PlainOrAbsent(WithSuffix(target, kOldSuffix)) ||
                                          !PlainOrAbsent(WithSuffix(target, kNewSuffix))))
            return false;
    }
    return true;
}

PatchResult ApplyJournal::Recover(const fs::path& root, const StepFilter& allowStep,
                                  std::string& message) {
    const PatchResult result = RecoverJournal(root, allowStep, message);
    if (result == PatchResult::Ok) LeftoverList(root, allowStep).Clear();
    return result;
}

PatchResult ApplyJournal::RecoverJournal(const fs::path& root, const StepFilter& allowStep,
                                         std::string& message) {
    ApplyJournal journal(root, allowStep);
    const fs::file_status status = StatusOf(journal.file_);
    if (!fs::exists(status)) return PatchResult::Ok;
    if (!fs::is_regular_file(status)) {
        message = "a link or a directory holds the journal's name; nothing was changed";
        return PatchResult::UnsafePath;
    }
    std::error_code ec;
    std::string bytes;
    bool committed = false;
    if (fs::file_size(journal.file_, ec) > kHeaderSize + kMaxRecords + kCommitMagic.size() + 32 ||
        !ReadWholeFile(journal.file_, bytes) || !journal.Decode(bytes, committed)) {
        // Cut short while it was written, before the first change: nothing to settle.
        if (journal.Remove(journal.file_)) return PatchResult::Ok;
        message = "cannot remove a damaged journal";
        return PatchResult::RollbackFailed;
    }
    if (!journal.IsSafeOnDisk()) {
        message =
            "the journal names a path outside the directory or through a link; nothing was changed";
        return PatchResult::UnsafePath;
    }
    if (journal.Settle(committed)) return PatchResult::Ok;
    message = std::string("an interrupted application could not be ") +
              (committed ? "finished" : "undone") + "; its journal and backups are kept";
    return PatchResult::RollbackFailed;
}

}  // namespace patchlib
