#include "patch_applier.h"

#include <algorithm>
#include <vector>

#include "delta_applier.h"
#include "patch_reader.h"
#include "sha256.h"

namespace patchlib {

namespace fs = std::filesystem;

namespace {

const char kNewSuffix[] = ".mrlpatch-new";
const char kOldSuffix[] = ".mrlpatch-old";

fs::path WithSuffix(const fs::path& path, const char* suffix) {
    fs::path out = path;
    out += suffix;
    return out;
}

enum class TargetState { Old, New, Neutral };

// What one file entry does and how far it got.
struct FileJob {
    const PatchEntry* entry = nullptr;
    fs::path target, temp, backup;
    bool targetExists = false;
    bool tempBuilt = false;
    bool backedUp = false;
    bool installed = false;
};

class Application {
public:
    Application(const ApplyOptions& options, const fs::path& root, ApplySummary& summary)
        : options_(options), root_(root), summary_(summary) {}

    PatchResult Run(const fs::path& patchFile, std::string& message) {
        try {
            if (!fs::is_directory(Status(root_)))
                throw PatchError(PatchResult::TreeMismatch, "not a directory: " + root_.u8string());
            reader_.Open(patchFile, options_.trustedKeys);
            PlanAndCheck();
            if (AlreadyApplied()) {
                summary_.alreadyApplied = true;
                message = "the tree already holds this patch's new files";
                return PatchResult::Ok;
            }
            BuildNewFiles();
            SwapIn();
        } catch (const PatchError& error) {
            message = error.what();
            return RollBack(error.result(), message);
        } catch (const std::exception& error) {
            message = std::string("unexpected failure: ") + error.what();
            return RollBack(PatchResult::Internal, message);
        }
        Commit();
        return PatchResult::Ok;
    }

private:
    void Allow(const std::string& step, const fs::path& path) {
        if (options_.allowStep && !options_.allowStep(step, path))
            throw PatchError(PatchResult::WriteFailed, "cannot " + step + " " + path.u8string());
    }

    fs::path Target(const std::string& relative) const { return root_ / fs::u8path(relative); }

    // No existing component between the root and the target may be a link:
    // following one could lead outside the directory.
    void CheckNoLinks(const std::string& relative) const {
        fs::path walk = root_;
        for (const fs::path& part : fs::u8path(relative)) {
            walk /= part;
            std::error_code ec;
            fs::file_status status = fs::symlink_status(walk, ec);
            if (ec || !fs::exists(status)) return;
            if (fs::is_symlink(status))
                throw PatchError(PatchResult::UnsafePath, "a link lies on the way to " + relative);
        }
    }

    static fs::file_status Status(const fs::path& path) {
        std::error_code ec;
        return fs::symlink_status(path, ec);
    }

    TargetState CheckFile(const PatchEntry& entry, FileJob& job) {
        fs::file_status status = Status(job.target);
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

    // A file we will move aside must be writable now: a file in use or marked
    // read-only is found before anything changes.
    void CheckWritable(const FileJob& job) {
        Allow("open-write", job.target);
        BinaryFile probe;
        if (!probe.Open(job.target, BinaryFile::Mode::ReadWrite))
            throw PatchError(PatchResult::WriteFailed, "cannot write " + job.entry->path);
    }

    void PlanAndCheck() {
        for (const PatchEntry& entry : reader_.entries()) {
            CheckNoLinks(entry.path);
            if (entry.IsDirectory()) {
                fs::file_status status = Status(Target(entry.path));
                if (fs::exists(status) && !fs::is_directory(status))
                    throw PatchError(PatchResult::TreeMismatch, "not a directory: " + entry.path);
                continue;
            }
            FileJob job;
            job.entry = &entry;
            job.target = Target(entry.path);
            job.temp = WithSuffix(job.target, kNewSuffix);
            job.backup = WithSuffix(job.target, kOldSuffix);
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
        // Only once every check has passed: stale copies a crashed run left.
        for (FileJob& job : jobs_)
            if (job.targetExists) ClearLeftover(job.backup);
    }

    bool AlreadyApplied() const {
        if (newCount_ == 0) return false;
        for (const FileJob& job : jobs_)
            if (job.entry->kind == EntryKind::DeleteFile && job.targetExists) return false;
        return true;
    }

    // Our own scratch names may hold what an interrupted run left; they are ours
    // to reuse, but only plain files, and never while the real target is gone.
    void ClearLeftover(const fs::path& path) {
        fs::file_status status = Status(path);
        if (!fs::exists(status)) return;
        std::error_code ec;
        if (!fs::is_regular_file(status) || !fs::remove(path, ec))
            throw PatchError(PatchResult::WriteFailed, "cannot clear " + path.u8string());
    }

    void MakeDirectories(const fs::path& directory) {
        std::vector<fs::path> missing;
        for (fs::path walk = directory; !walk.empty() && walk != root_ && !fs::exists(Status(walk));
             walk = walk.parent_path())
            missing.push_back(walk);
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            Allow("mkdir", *it);
            std::error_code ec;
            if (!fs::create_directory(*it, ec))
                throw PatchError(PatchResult::WriteFailed,
                                 "cannot create the directory " + it->u8string());
            createdDirs_.push_back(*it);
            ++summary_.directoriesCreated;
        }
    }

    void BuildNewFiles() {
        for (const PatchEntry& entry : reader_.entries())
            if (entry.kind == EntryKind::AddDir) MakeDirectories(Target(entry.path));
        for (FileJob& job : jobs_) {
            if (!job.entry->HasNew()) continue;
            MakeDirectories(job.target.parent_path());
            ClearLeftover(job.temp);
            BuildOne(job);
        }
    }

    void BuildOne(FileJob& job) {
        const PatchEntry& entry = *job.entry;
        Allow("create", job.temp);
        BinaryFile out;
        if (!out.Open(job.temp, BinaryFile::Mode::Write))
            throw PatchError(PatchResult::WriteFailed, "cannot create " + job.temp.u8string());
        job.tempBuilt = true;
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
        if (!out.Close())
            throw PatchError(PatchResult::WriteFailed, "cannot write " + job.temp.u8string());
        if (written != entry.newSize || hash.Final() != entry.newHash)
            throw PatchError(PatchResult::CorruptPatch,
                             "the rebuilt file does not match the patch: " + entry.path);
    }

    void Rename(const char* step, const fs::path& from, const fs::path& to) {
        Allow(step, from);
        std::error_code ec;
        fs::rename(from, to, ec);
        if (ec)
            throw PatchError(PatchResult::WriteFailed,
                             "cannot move " + from.u8string() + ": " + ec.message());
    }

    void SwapIn() {
        for (FileJob& job : jobs_) {
            if (job.targetExists) {
                Rename("backup", job.target, job.backup);
                job.backedUp = true;
            }
            if (job.entry->HasNew()) {
                Rename("install", job.temp, job.target);
                job.tempBuilt = false;
                job.installed = true;
            }
        }
    }

    // Puts every file back, newest change first. Returns the code to report.
    PatchResult RollBack(PatchResult cause, std::string& message) {
        bool complete = true;
        for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) {
            FileJob& job = *it;
            std::error_code ec;
            if (job.installed) {
                if (fs::remove(job.target, ec) || !fs::exists(Status(job.target)))
                    job.installed = false;
                else
                    complete = false;
            }
            if (job.backedUp && !job.installed) {
                try {
                    Rename("restore", job.backup, job.target);
                    job.backedUp = false;
                } catch (const PatchError&) {
                    complete = false;
                }
            }
            if (job.tempBuilt) fs::remove(job.temp, ec);
        }
        for (auto it = createdDirs_.rbegin(); it != createdDirs_.rend(); ++it) {
            std::error_code ec;
            fs::remove(*it,
                       ec);  // only succeeds when empty: never removes anything of the player's
        }
        if (!complete) {
            message +=
                "; restoring the old files failed, backups are kept as *" + std::string(kOldSuffix);
            return PatchResult::RollbackFailed;
        }
        return cause;
    }

    void Commit() {
        for (FileJob& job : jobs_) {
            if (job.backedUp) {
                std::error_code ec;
                // A read-only file moved aside keeps its attribute; clear it to delete the copy.
                fs::permissions(job.backup, fs::perms::owner_write, fs::perm_options::add, ec);
                if (!fs::remove(job.backup, ec)) ++summary_.backupsLeft;
            }
            if (job.entry->HasNew())
                ++summary_.filesWritten;
            else if (job.targetExists)
                ++summary_.filesDeleted;
        }
        // Deepest first, so a parent is empty by the time its turn comes.
        std::vector<std::string> doomed;
        for (const PatchEntry& entry : reader_.entries())
            if (entry.kind == EntryKind::DeleteDir) doomed.push_back(entry.path);
        std::sort(doomed.begin(), doomed.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& relative : doomed) {
            std::error_code ec;
            fs::path directory = Target(relative);
            if (fs::is_directory(Status(directory)) && fs::is_empty(directory, ec) &&
                fs::remove(directory, ec))
                ++summary_.directoriesRemoved;
        }
    }

    const ApplyOptions& options_;
    fs::path root_;
    ApplySummary& summary_;
    PatchReader reader_;
    std::vector<FileJob> jobs_;
    std::vector<fs::path> createdDirs_;
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
