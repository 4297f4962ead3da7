// Every failure leaves the tree exactly as it was and returns non-zero.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include "patch_applier.h"
#include "patch_builder.h"
#include "patch_writer.h"
#include "tree_fixture.h"
#include "zlib_writer.h"

namespace {

namespace fs = std::filesystem;
using patchlib::PatchResult;
using patchtest::ReadFile;
using patchtest::TakeSnapshot;
using patchtest::TempDir;
using patchtest::WriteFile;

class PatchFailure : public ::testing::Test {
protected:
    void SetUp() override {
        std::string data = patchtest::GameData(21, 200000);
        WriteFile(dir_ / "old/game.exe", data);
        WriteFile(dir_ / "new/game.exe", data.substr(0, 90000) + "new code" + data.substr(90000));
        WriteFile(dir_ / "old/data/a.dat", "alpha");
        WriteFile(dir_ / "new/data/a.dat", "alpha, second edition");
        WriteFile(dir_ / "old/data/b.dat", "bravo");
        WriteFile(dir_ / "old/remove.me", "to be removed");
        WriteFile(dir_ / "new/sub/added.txt", "added");
        WriteFile(dir_ / "new/z-last.txt", "last");
        patchlib::PatchBuilder::Build(dir_ / "old", dir_ / "new", patch_);
        patchtest::CopyTree(dir_ / "old", work_);
        before_ = TakeSnapshot(work_);
    }

    PatchResult Apply(const fs::path& patch, patchlib::ApplyOptions options = {}) {
        message_.clear();
        return patchlib::PatchApplier(std::move(options)).Apply(patch, work_, &message_);
    }

    void ExpectUnchanged() { EXPECT_EQ(TakeSnapshot(work_), before_) << message_; }

    TempDir dir_;
    fs::path patch_ = dir_ / "p.mrl";
    fs::path work_ = dir_ / "work";
    patchtest::Snapshot before_;
    std::string message_;
};

TEST_F(PatchFailure, AnOldFileThatDiffersStopsEverything) {
    WriteFile(work_ / "data/b.dat", "bravo, edited by the player");
    before_ = TakeSnapshot(work_);
    EXPECT_EQ(Apply(patch_), PatchResult::TreeMismatch);
    ExpectUnchanged();
    fs::remove(work_ / "game.exe");
    before_ = TakeSnapshot(work_);
    EXPECT_EQ(Apply(patch_), PatchResult::TreeMismatch);
    ExpectUnchanged();
}

// What a crashed run left under our scratch names is ours to clear.
TEST_F(PatchFailure, StaleScratchFilesOfAnEarlierRunDoNotStopTheNext) {
    WriteFile(work_ / "game.exe.mrlpatch-old", "stale backup");
    WriteFile(work_ / "sub/added.txt.mrlpatch-new", "half-built file");
    std::string message;
    ASSERT_EQ(patchlib::PatchApplier().Apply(patch_, work_, &message), PatchResult::Ok) << message;
    EXPECT_EQ(TakeSnapshot(work_), TakeSnapshot(dir_ / "new"));
}

TEST_F(PatchFailure, AMissingTargetDirectoryIsNotCreated) {
    std::string message;
    EXPECT_EQ(patchlib::PatchApplier().Apply(patch_, dir_ / "absent", &message),
              PatchResult::TreeMismatch);
    EXPECT_FALSE(fs::exists(dir_ / "absent"));
}

TEST_F(PatchFailure, ATreeHalfOldHalfNewIsRefused) {
    WriteFile(work_ / "data/a.dat", "alpha, second edition");
    before_ = TakeSnapshot(work_);
    EXPECT_EQ(Apply(patch_), PatchResult::TreeMismatch);
    ExpectUnchanged();
}

TEST_F(PatchFailure, ATruncatedPatchIsRefused) {
    std::string bytes = ReadFile(patch_);
    for (size_t length : {size_t{0}, size_t{10}, size_t{56}, size_t{80}, bytes.size() / 3,
                          bytes.size() / 2, bytes.size() - 100, bytes.size() - 1}) {
        WriteFile(dir_ / "cut.mrl", bytes.substr(0, length));
        EXPECT_EQ(Apply(dir_ / "cut.mrl"), PatchResult::CorruptPatch) << length;
    }
    WriteFile(dir_ / "long.mrl", bytes + "x");
    EXPECT_EQ(Apply(dir_ / "long.mrl"), PatchResult::CorruptPatch);
    EXPECT_EQ(Apply(dir_ / "absent.mrl"), PatchResult::CannotReadPatch);
    ExpectUnchanged();
}

TEST_F(PatchFailure, AFlippedByteAnywhereIsRefused) {
    std::string bytes = ReadFile(patch_);
    ASSERT_GT(bytes.size(), 200u);
    // Every byte of the header and directory, then a spread over the sections.
    for (size_t i = 0; i < bytes.size(); i += (i < 200 ? 1 : bytes.size() / 300 + 1)) {
        std::string damaged = bytes;
        damaged[i] = static_cast<char>(damaged[i] ^ (1 << (i % 8)));
        WriteFile(dir_ / "bad.mrl", damaged);
        ASSERT_NE(Apply(dir_ / "bad.mrl"), PatchResult::Ok) << "byte " << i;
    }
    ExpectUnchanged();
}

// A patch made by hand with a well-formed body whose paths try to escape.
void WritePatchAdding(const fs::path& out, const std::string& path) {
    patchlib::PatchWriter writer(out);
    patchlib::PatchEntry entry;
    entry.kind = patchlib::EntryKind::AddFile;
    entry.path = path;
    entry.newSize = 4;
    entry.newHash = patchlib::Sha256::Of("evil", 4);
    writer.Add(entry, {patchlib::ZlibWriter::Compress("evil")}, {4});
    writer.Finish();
}

TEST_F(PatchFailure, APathLeavingTheDirectoryRefusesTheWholePatch) {
    for (const char* path : {"../escaped.txt", "data/../../escaped.txt", "/tmp/escaped.txt",
                             "C:/escaped.txt", "..\\escaped.txt"}) {
        WritePatchAdding(dir_ / "evil.mrl", path);
        EXPECT_EQ(Apply(dir_ / "evil.mrl"), PatchResult::UnsafePath) << path;
    }
    EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
    EXPECT_FALSE(fs::exists("/tmp/escaped.txt"));
    ExpectUnchanged();
}

TEST_F(PatchFailure, ALinkOnTheWayOutIsRefused) {
    TempDir outside;
    fs::create_directory_symlink(outside.path(), work_ / "link");
    before_ = TakeSnapshot(work_);
    WritePatchAdding(dir_ / "evil.mrl", "link/escaped.txt");
    EXPECT_EQ(Apply(dir_ / "evil.mrl"), PatchResult::UnsafePath);
    EXPECT_FALSE(fs::exists(outside / "escaped.txt"));
}

// Fails the n-th change the applier tries (any kind) and checks that the tree
// comes back whole, for every n up to the number of changes of a full run.
TEST_F(PatchFailure, AFailureAtAnyStepPutsEverythingBack) {
    std::vector<std::string> steps;
    {
        TempDir scratch;
        patchtest::CopyTree(work_, scratch / "w");
        patchlib::ApplyOptions recorder;
        recorder.allowStep = [&](const std::string& step, const fs::path&) {
            steps.push_back(step);
            return true;
        };
        ASSERT_EQ(patchlib::PatchApplier(recorder).Apply(patch_, scratch / "w"), PatchResult::Ok);
    }
    ASSERT_GE(steps.size(), 10u);
    for (size_t failAt = 0; failAt < steps.size(); ++failAt) {
        if (steps[failAt] == "restore") continue;
        size_t count = 0;
        patchlib::ApplyOptions options;
        options.allowStep = [&](const std::string&, const fs::path&) { return count++ != failAt; };
        EXPECT_EQ(Apply(patch_, options), PatchResult::WriteFailed) << steps[failAt];
        ExpectUnchanged();
        EXPECT_EQ(TakeSnapshot(work_), before_)
            << "failing step " << failAt << " (" << steps[failAt] << ")";
    }
}

TEST_F(PatchFailure, AFailedRestoreKeepsTheBackupsAndSaysSo) {
    patchlib::ApplyOptions options;
    options.allowStep = [](const std::string& step, const fs::path& path) {
        return !(step == "install" && path.filename() == "z-last.txt.mrlpatch-new") &&
               step != "restore";
    };
    EXPECT_EQ(Apply(patch_, options), PatchResult::RollbackFailed);
    // The old content survives beside its place.
    EXPECT_EQ(ReadFile(work_ / "data/b.dat.mrlpatch-old"), "bravo");
    EXPECT_NE(message_.find("backups are kept"), std::string::npos);
}

// Our scratch name taken by a directory: the system itself refuses the write.
TEST_F(PatchFailure, ATargetThatCannotBeWrittenLeavesTheTreeAsItWas) {
    fs::create_directories(work_ / "z-last.txt.mrlpatch-new/occupied");
    before_ = TakeSnapshot(work_);
    EXPECT_EQ(Apply(patch_), PatchResult::WriteFailed);
    ExpectUnchanged();
}

// A read-only file: as root the permission bits do not stop a write, so the
// file goes on a read-only bind mount when we may mount, else chmod applies.
TEST_F(PatchFailure, AReadOnlyTargetLeavesTheTreeAsItWas) {
    fs::path data = work_ / "data";
    bool mounted = false;
    if (geteuid() == 0) {
        if (mount(data.c_str(), data.c_str(), nullptr, MS_BIND, nullptr) != 0)
            GTEST_SKIP() << "cannot bind-mount";
        mounted =
            mount(nullptr, data.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        if (!mounted) {
            umount2(data.c_str(), MNT_DETACH);
            GTEST_SKIP() << "cannot remount read-only";
        }
    } else {
        fs::permissions(data / "a.dat",
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    PatchResult result = Apply(patch_);
    patchtest::Snapshot after = TakeSnapshot(work_);
    if (mounted) umount2(data.c_str(), MNT_DETACH);
    EXPECT_EQ(result, PatchResult::WriteFailed) << message_;
    EXPECT_EQ(after, before_);
}

}  // namespace

namespace {

// A hand-made delta for data/b.dat ("bravo") whose streams are given raw.
void WriteDeltaPatch(const fs::path& out, const std::string& control, const std::string& runs,
                     const std::string& literals, const std::string& extra,
                     const std::string& result) {
    patchlib::PatchWriter writer(out);
    patchlib::PatchEntry entry;
    entry.kind = patchlib::EntryKind::DeltaFile;
    entry.path = "data/b.dat";
    entry.oldSize = 5;
    entry.oldHash = patchlib::Sha256::Of("bravo", 5);
    entry.newSize = result.size();
    entry.newHash = patchlib::Sha256::Of(result.data(), result.size());
    std::vector<std::string> sections;
    std::vector<uint64_t> sizes;
    for (const std::string* raw : {&control, &runs, &literals, &extra}) {
        sections.push_back(patchlib::ZlibWriter::Compress(*raw));
        sizes.push_back(raw->size());
    }
    writer.Add(entry, sections, sizes);
    writer.Finish();
}

TEST_F(PatchFailure, InconsistentDeltaStreamsAreRefused) {
    // seek 0, copy 5, extra 1; the diff turns "bravo" into "Bravo".
    const std::string copyFive("\x00\x05\x01", 3);
    const std::string diffRuns("\x00\x01\x04\x00", 4);  // one literal, then four zeros
    const std::string diffLiteral("\xe0", 1);           // 'b' + 0xe0 = 'B'
    WriteDeltaPatch(dir_ / "good.mrl", copyFive, diffRuns, diffLiteral, "!", "Bravo!");
    {
        TempDir scratch;
        patchtest::CopyTree(work_, scratch / "w");
        std::string message;
        ASSERT_EQ(patchlib::PatchApplier().Apply(dir_ / "good.mrl", scratch / "w", &message),
                  PatchResult::Ok)
            << message;
        EXPECT_EQ(ReadFile(scratch / "w/data/b.dat"), "Bravo!");
    }
    struct Case {
        const char* what;
        std::string control, runs, literals, extra;
    };
    const Case cases[] = {
        {"seek past the old file", std::string("\x0c\x05\x01", 3), diffRuns, diffLiteral, "!"},
        {"copy past the old file", std::string("\x02\x05\x01", 3), diffRuns, diffLiteral, "!"},
        {"seek before the old file", std::string("\x01\x05\x01", 3), diffRuns, diffLiteral, "!"},
        {"more output than the new size", std::string("\x00\x05\x02", 3), diffRuns, diffLiteral,
         "!!"},
        {"less output than the new size", std::string("\x00\x05\x00", 3), diffRuns, diffLiteral,
         ""},
        {"diff runs longer than the copies", copyFive, std::string("\x00\x01\x09\x00", 4),
         diffLiteral, "!"},
        {"diff runs shorter than the copies", copyFive, std::string("\x00\x01", 2), diffLiteral,
         "!"},
        {"an empty diff run", copyFive, std::string("\x00\x00\x00\x01\x04\x00", 6), diffLiteral,
         "!"},
        {"literals left over", copyFive, diffRuns, std::string("\xe0\x01", 2), "!"},
        {"extra left over", copyFive, diffRuns, diffLiteral, "!?"},
        {"a truncated number", std::string("\x00\x05\x81", 3), diffRuns, diffLiteral, "!"},
    };
    for (const Case& c : cases) {
        WriteDeltaPatch(dir_ / "bad.mrl", c.control, c.runs, c.literals, c.extra, "Bravo!");
        EXPECT_EQ(Apply(dir_ / "bad.mrl"), PatchResult::CorruptPatch) << c.what;
        ExpectUnchanged();
    }
}

}  // namespace
