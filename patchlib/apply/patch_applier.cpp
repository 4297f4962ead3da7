#include "apply/patch_applier.h"

#include <algorithm>
#include <set>
#include <vector>

#include "apply/apply_journal.h"
#include "delta/delta_applier.h"
#include "durable_fs.h"
#include "inflated_delta.h"
#include "names/patch_path.h"
#include "format/patch_reader.h"
#include "crypto/sha256.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

enum class TargetState { Old, New, Neutral };

// What one file entry does.
struct FileJob {
    const PatchEntry* entry = nullptr;
    fs::path target, temp, backup, scratch;
    bool targetExists = false;
};

class Application {
public:
    Application(const ApplyOptions& options, const fs::path& root, ApplySummary& summary)
        : options_(options), root_(root), summary_(summary), journal_(root, options.allowStep) {}

    PatchResult Run(const fs::path& patchFile, std::string& message) {
        try {
            // The directory the caller names may itself be reached through a link or
            // junction (an install moved to another drive): only what lies inside it is
            // checked for links.
            std::error_code ec;
            if (!fs::is_directory(root_, ec))
                throw PatchError(PatchResult::TreeMismatch, "not a directory: " + root_.u8string());
            const PatchResult recovered = ApplyJournal::Recover(root_, options_.allowStep, message);
            if (recovered != PatchResult::Ok) return recovered;
            reader_.Open(patchFile, options_.trustedKeys);
            PlanAndCheck();
            if (AlreadyApplied()) {
                summary_.alreadyApplied = true;
                message = "the tree already holds this patch's new files";
                return PatchResult::Ok;
            }
            journal_.Write();
            journaled_ = true;
            BuildNewFiles();
            SwapIn();
            journal_.Commit();
        } catch (const PatchError& error) {
            message = error.what();
            return RollBack(error.result(), message);
        } catch (const std::exception& error) {
            message = std::string("unexpected failure: ") + error.what();
            return RollBack(PatchResult::Internal, message);
        }
        Finish();
        return PatchResult::Ok;
    }

private:
    void Allow(const std::string& step, const fs::path& path) {
        if (options_.allowStep && !options_.allowStep(step, path))
            throw PatchError(PatchResult::WriteFailed, "cannot " + step + " " + path.u8string());
    }

    fs::path Target(const std::string& relative) const { return root_ / fs::u8path(relative); }

    TargetState CheckFile(const PatchEntry& entry, FileJob& job) {
        fs::file_status status = StatusOf(job.target);
        job.targetExists = fs::exists(status);
        if (job.targetExists && !fs::is_regular_file(status))
            throw PatchError(PatchResult::TreeMismatch, "not a plain file: " + entry.path);
        if (!job.targetExists) {
            if (entry.kind == EntryKind::AddFile || entry.kind == EntryKind::DeleteFile)
                return TargetState::Neutral;
            throw PatchError(PatchResult::TreeMismatch, "missing file: " + entry.path);
        }
        uint64_t size = 0;
        Digest digest{};
        if (!Sha256::OfFile(job.target, size, digest))
            throw PatchError(PatchResult::TreeMismatch, "cannot read " + entry.path);
        bool isOld = entry.HasOld() && size == entry.oldSize && digest == entry.oldHash;
        bool isNew = entry.HasNew() && size == entry.newSize && digest == entry.newHash;
        if (entry.kind == EntryKind::AddFile)
            return isNew ? TargetState::Neutral : TargetState::Old;
        if (isOld) return TargetState::Old;
        if (isNew) return TargetState::New;
        throw PatchError(PatchResult::TreeMismatch,
                         "file differs from the version this patch expects: " + entry.path);
    }

    // A file we will move aside must be free to move now: a file in use is
    // found before anything changes.
    void CheckWritable(const FileJob& job) {
        Allow("open-write", job.target);
        if (!CanMoveAside(job.target))
            throw PatchError(PatchResult::WriteFailed, "cannot write " + job.entry->path);
    }

    void PlanAndCheck() {
        for (const PatchEntry& entry : reader_.entries()) {
            CheckNoLink(entry);
            if (entry.IsDirectory()) {
                fs::file_status status = StatusOf(Target(entry.path));
                if (fs::exists(status) && !fs::is_directory(status))
                    throw PatchError(PatchResult::TreeMismatch, "not a directory: " + entry.path);
                continue;
            }
            FileJob job;
            job.entry = &entry;
            job.target = Target(entry.path);
            job.temp = WithSuffix(job.target, kNewSuffix);
            job.backup = WithSuffix(job.target, kOldSuffix);
            job.scratch = WithSuffix(job.target, kScratchSuffix);
            TargetState state = CheckFile(entry, job);
            if (state == TargetState::Old) ++oldCount_;
            if (state == TargetState::New) ++newCount_;
            jobs_.push_back(job);
        }
        if (oldCount_ > 0 && newCount_ > 0)
            throw PatchError(PatchResult::TreeMismatch,
                             "the tree is partly at the old and partly at the new version");
        if (AlreadyApplied()) return;
        for (FileJob& job : jobs_)
            if (job.targetExists) CheckWritable(job);
        // Only once every check has passed: copies that a run without a journal
        // left. From here on, our scratch names hold only what the journal names.
        for (FileJob& job : jobs_) {
            ClearLeftover(job.backup);
            ClearLeftover(job.temp);
            ClearLeftover(job.scratch);
        }
        PlanJournal();
    }

    // Checked when planning, and again right before each file is created or
    // moved: a link that appeared since (an existing directory swapped for one)
    // is not followed.
    void CheckNoLink(const PatchEntry& entry) const {
        if (LinkOnTheWay(root_, entry.path))
            throw PatchError(PatchResult::UnsafePath, "a link lies on the way to " + entry.path);
    }

    bool AlreadyApplied() const {
        if (newCount_ == 0) return false;
        for (const FileJob& job : jobs_)
            if (job.entry->kind == EntryKind::DeleteFile && job.targetExists) return false;
        return true;
    }

    // Our own scratch names are ours to reuse, but only plain files.
    void ClearLeftover(const fs::path& path) {
        if (!fs::exists(StatusOf(path))) return;
        Allow("remove", path);
        if (!RemovePlainFile(path))
            throw PatchError(PatchResult::WriteFailed, "cannot clear " + path.u8string());
    }

    // Every change the journal must name, decided before the first one.
    void PlanJournal() {
        using Kind = ApplyJournal::Kind;
        std::vector<std::string> doomed;
        for (const PatchEntry& entry : reader_.entries()) {
            if (entry.kind == EntryKind::AddDir) PlanDirectories(entry.path);
            const size_t slash = entry.path.rfind('/');
            if (entry.HasNew() && slash != std::string::npos)
                PlanDirectories(entry.path.substr(0, slash));
            if (entry.kind == EntryKind::DeleteDir) doomed.push_back(entry.path);
        }
        for (const FileJob& job : jobs_) {
            if (job.entry->HasNew())
                journal_.Add(job.targetExists ? Kind::Replaced : Kind::Added, job.entry->path);
            else if (job.targetExists)
                journal_.Add(Kind::Deleted, job.entry->path);
        }
        // Parents before children; they are removed in the reverse order.
        std::sort(doomed.begin(), doomed.end(),
                  [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
        for (const std::string& relative : doomed) journal_.Add(Kind::DoomedDir, relative);
    }

    // The missing directories on the way to and including `relative`, parents first.
    void PlanDirectories(const std::string& relative) {
        for (size_t end = relative.find('/');; end = relative.find('/', end + 1)) {
            const std::string prefix = relative.substr(0, end);
            if (!fs::exists(StatusOf(Target(prefix))) && planned_.insert(prefix).second) {
                madeDirs_.push_back(prefix);
                journal_.Add(ApplyJournal::Kind::MadeDir, prefix);
            }
            if (end == std::string::npos) return;
        }
    }

    void BuildNewFiles() {
        for (const std::string& relative : madeDirs_) {
            const fs::path directory = Target(relative);
            Allow("mkdir", directory);
            std::error_code ec;
            // Already there: the same directory named in another case; never a link
            // planted since the checks.
            if (!fs::create_directory(directory, ec) &&
                (ec || !fs::is_directory(StatusOf(directory))))
                throw PatchError(PatchResult::WriteFailed,
                                 "cannot create the directory " + directory.u8string());
        }
        for (FileJob& job : jobs_)
            if (job.entry->HasNew()) BuildOne(job);
    }

    void BuildOne(FileJob& job) {
        const PatchEntry& entry = *job.entry;
        Allow("create", job.temp);
        CheckNoLink(entry);
        // Never through a link planted after the checks; with the replaced file's
        // permission bits or attributes.
        BinaryFile out;
        if (!out.CreateNew(job.temp, job.targetExists ? &job.target : nullptr))
            throw PatchError(PatchResult::WriteFailed, "cannot create " + job.temp.u8string());
        Sha256 hash;
        uint64_t written = 0;
        auto sink = [&](const void* data, size_t size) {
            if (!out.Write(data, size))
                throw PatchError(PatchResult::WriteFailed, "cannot write " + job.temp.u8string());
            hash.Update(data, size);
            written += size;
        };
        if (entry.kind == EntryKind::DeltaFile) {
            BinaryFile old;
            if (!old.Open(job.target, BinaryFile::Mode::Read))
                throw PatchError(PatchResult::TreeMismatch, "cannot read " + entry.path);
            // Version 1 has no layout section: its four sections start at control.
            const size_t skip = reader_.version() == 1 ? size_t{kControl} : 0;
            DeltaApplier::Apply(
                old, entry.oldSize, entry.newSize, reader_.version(),
                [&](DeltaSectionId id, ZlibReader& section) {
                    reader_.OpenSection(entry.sections[id - skip], section);
                },
                sink);
        } else if (entry.IsInflated()) {
            InflatedDelta::Apply(
                reader_, entry, job.target, job.scratch,
                [this](const char* step, const fs::path& path) { Allow(step, path); }, sink);
        } else {
            ZlibReader data;
            reader_.OpenSection(entry.sections[0], data);
            const size_t kBuffer = 64 * 1024;
            Buffer buffer = NewBuffer(kBuffer);
            for (uint64_t left = entry.newSize; left > 0;) {
                size_t n = left < kBuffer ? static_cast<size_t>(left) : kBuffer;
                data.ReadExact(buffer.get(), n);
                sink(buffer.get(), n);
                left -= n;
            }
            data.ExpectEnd();
        }
        // On disk before it is moved in: a stop of the machine must not leave an empty file.
        if (!out.Sync() || !out.Close())
            throw PatchError(PatchResult::WriteFailed, "cannot write " + job.temp.u8string());
        if (written != entry.newSize || hash.Final() != entry.newHash)
            throw PatchError(PatchResult::CorruptPatch,
                             "the rebuilt file does not match the patch: " + entry.path);
    }

    // Our scratch names were cleared and the targets moved aside: a name that
    // is taken now was taken by someone else, and is not replaced.
    void Move(const char* step, const fs::path& from, const fs::path& to) {
        Allow(step, from);
        if (!MoveToNewName(from, to))
            throw PatchError(PatchResult::WriteFailed, "cannot move " + from.u8string());
    }

    void SwapIn() {
        for (FileJob& job : jobs_) {
            CheckNoLink(*job.entry);
            if (job.targetExists) Move("backup", job.target, job.backup);
            if (job.entry->HasNew()) Move("install", job.temp, job.target);
        }
    }

    // Returns the code to report.
    PatchResult RollBack(PatchResult cause, std::string& message) {
        if (!journaled_ || journal_.Settle(false)) return cause;
        message += "; restoring the old files failed, the backups (*" + std::string(kOldSuffix) +
                   ") and the journal are kept for the next application";
        return PatchResult::RollbackFailed;
    }

    void Finish() {
        for (const FileJob& job : jobs_) {
            if (job.entry->HasNew())
                ++summary_.filesWritten;
            else if (job.targetExists)
                ++summary_.filesDeleted;
        }
        summary_.cleanupLeft = !journal_.Settle(true);
    }

    const ApplyOptions& options_;
    fs::path root_;
    ApplySummary& summary_;
    PatchReader reader_;
    ApplyJournal journal_;
    bool journaled_ = false;  // from here on, a failure is undone through the journal
    std::vector<FileJob> jobs_;
    std::vector<std::string> madeDirs_;  // parents first
    std::set<std::string> planned_;
    size_t oldCount_ = 0, newCount_ = 0;
};

}  // namespace

PatchResult PatchApplier::Apply(const fs::path& patchFile, const fs::path& root,
                                std::string* message, ApplySummary* summary) {
    std::string text;
    ApplySummary local;
    Application application(options_, root, summary ? *summary : local);
    PatchResult result = application.Run(patchFile, text);
    if (message) *message = text;
    return result;
}

}  // namespace patchlib
