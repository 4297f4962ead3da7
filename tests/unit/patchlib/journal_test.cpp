// An application stopped at any step, as by a crash, is settled by the next one.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "apply/apply_journal.h"
#include "apply/patch_applier.h"
#include "builder/patch_builder.h"
#include "patch_kit.h"
#include "names/patch_path.h"

namespace {

using namespace patchlib;
using namespace patchtest;
using R = PatchResult;
const int kStopped = 99;

class Journal : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir_ / "old/game.exe", Program(true, Code(1, 3000), Data(2, 400)));
        WriteFile(dir_ / "new/game.exe", Program(true, Code(3, 50) + Code(1, 3000), Data(2, 400)));
        WriteFile(dir_ / "old/data/a.dat", "alpha");
        WriteFile(dir_ / "new/data/a.dat", "alpha, second edition");
        WriteFile(dir_ / "old/gone/deep/b.dat", "bravo");
        WriteFile(dir_ / "new/sub/deep/added.txt", "added");
        // Rebuilt through a scratch file of its streams inflated.
        WriteFile(dir_ / "old/data/pack.z", FuzzPack(false));
        WriteFile(dir_ / "new/data/pack.z", FuzzPack(true));
        PatchBuilder::Build(dir_ / "old", dir_ / "new", patch_);
    }
    // Applies the patch in a child that its k-th step ends (settling: or its
    // first probe). inUse: the backups cannot be removed, as a running
    // program's cannot on Windows.
    int StopAt(size_t k, bool settling = false, bool inUse = false) {
        const pid_t child = fork();
        if (child == 0) {
            ApplyOptions options;
            options.allowStep = [&](const std::string& step, const fs::path& path) {
                if (settling && step == "open-write") _exit(0);
                if (--k == 0) _exit(kStopped);
                return !inUse || step != "remove" || path.extension() != kOldSuffix;
            };
            _exit(int(PatchApplier(options).Apply(patch_, work_)));
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == kStopped || !WEXITSTATUS(status)));
        return WEXITSTATUS(status);
    }
    TempDir dir_;
    fs::path patch_ = dir_ / "p.mrl", work_ = dir_ / "work";
};

TEST_F(Journal, AStopAtAnyStepLeavesTheOldOrTheNewTreeToTheNextApplication) {
    const Snapshot oldTree = TakeSnapshot(dir_ / "old"), newTree = TakeSnapshot(dir_ / "new");
    // The next one settles (itself stopped at each such step); its own steps find the old tree.
    auto settleAndApply = [&](size_t k, size_t j) {
        Snapshot found = newTree;
        ApplyOptions options;
        options.allowStep = [&](const std::string& step, const fs::path&) {
            if (step == "journal") found = TakeSnapshot(work_);
            return true;
        };
        EXPECT_EQ(PatchApplier(options).Apply(patch_, work_), R::Ok) << k << "," << j;
        EXPECT_TRUE((found == oldTree || found == newTree) && TakeSnapshot(work_) == newTree)
            << k << "," << j;
    };
    size_t k = 1;
    for (; CopyTree(dir_ / "old", work_), StopAt(k) == kStopped; ++k) {
        CopyTree(work_, dir_ / "stopped");
        // Settling alone leaves one tree or the other, scratch files gone.
        std::string message;
        EXPECT_EQ(ApplyJournal::Recover(work_, {}, message), R::Ok) << k;
        const Snapshot settled = TakeSnapshot(work_);
        EXPECT_TRUE(settled == oldTree || settled == newTree) << k;
        CopyTree(dir_ / "stopped", work_);
        settleAndApply(k, 0);
        for (size_t j = 1; CopyTree(dir_ / "stopped", work_), StopAt(j, true) == kStopped; ++j)
            settleAndApply(k, j);
    }
    EXPECT_GT(k, 19u);
    // Backups in use wait under their own names, listed; each step of that is
    // a stop too, and a later settling removes them.
    for (k = 1; CopyTree(dir_ / "old", work_), StopAt(k, false, true) == kStopped; ++k)
        settleAndApply(k, 0);
    EXPECT_TRUE(fs::exists(work_ / kGoneListName) && fs::exists(work_ / "game.exe.mrlpatch-gone"));
    std::string message;
    EXPECT_EQ(ApplyJournal::Recover(work_, {}, message), R::Ok);
    EXPECT_EQ(TakeSnapshot(work_), newTree);
}

// A journal failing its hash was cut short before the first change: dropped.
// One naming a path outside the tree is refused and kept.
TEST_F(Journal, ADamagedJournalIsDroppedAndAHostileOneRefusedUntouched) {
    TempDir outside;
    for (const fs::path& x : {outside / "x", dir_ / "x"}) WriteFile(x, "theirs");
    const std::tuple<const char*, int, R> cases[] = {
        {"data/a.dat", 1, R::Ok}, {"../x", 0, R::UnsafePath}, {"link/x", 0, R::UnsafePath}};
    for (const auto& [path, damaged, result] : cases) {
        CopyTree(dir_ / "old", work_);
        fs::create_directory_symlink(outside.path, work_ / "link");
        const Snapshot before = TakeSnapshot(work_);
        ApplyJournal journal(work_, nullptr);
        journal.Add(ApplyJournal::Kind::Added, path);  // honoured, it would remove the file
        journal.Write();
        std::string bytes = ReadFile(work_ / kJournalName);
        bytes[16] = static_cast<char>(bytes[16] ^ damaged);  // its hash's first byte
        WriteFile(work_ / kJournalName, bytes);
        EXPECT_EQ(PatchApplier().Apply(patch_, work_), result) << path;
        EXPECT_EQ(fs::remove(work_ / kJournalName), result != R::Ok) << path;
        EXPECT_TRUE(result == R::Ok || TakeSnapshot(work_) == before) << path;
        EXPECT_EQ(ReadFile(outside / "x") + ReadFile(dir_ / "x"), "theirstheirs") << path;
    }
}

// Nor is one trusted when a link holds its own name or one of our scratch
// names beside a file it records: putting that back would move the link in.
TEST_F(Journal, ALinkAtTheJournalOrAScratchNameIsRefusedUntouched) {
    TempDir outside;
    WriteFile(outside / "x", "theirs");
    for (const char* link : {"data/a.dat.mrlpatch-old", "data/a.dat.mrlpatch-new", kJournalName}) {
        CopyTree(dir_ / "old", work_);
        ApplyJournal journal(work_, nullptr);
        journal.Add(ApplyJournal::Kind::Replaced, "data/a.dat");
        journal.Write();
        const bool journalName = link == std::string(kJournalName);
        if (journalName) fs::rename(work_ / kJournalName, outside / "journal");
        fs::create_symlink(journalName ? outside / "journal" : outside / "x", work_ / link);
        const Snapshot before = TakeSnapshot(work_);
        EXPECT_EQ(PatchApplier().Apply(patch_, work_), R::UnsafePath) << link;
        EXPECT_EQ(TakeSnapshot(work_), before) << link;
        EXPECT_EQ(ReadFile(outside / "x"), "theirs") << link;
    }
}

}  // namespace
