// An application stopped at any step (the process ended, as by a crash) is
// settled by the next one, even when that one is stopped while settling it.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "apply_journal.h"
#include "patch_applier.h"
#include "patch_builder.h"
#include "patch_kit.h"
#include "patch_path.h"

namespace {

using namespace patchlib;
using namespace patchtest;
using R = PatchResult;
const int kStopped = 99;

// Runs `work` in a child process whose k-th file-system step ends it.
int StopAt(size_t k, const std::function<int(const StepFilter&)>& work) {
    const pid_t child = fork();
    if (child == 0) {
        size_t count = 0;
        _exit(work([&](const std::string&, const fs::path&) {
            if (++count == k) _exit(kStopped);
            return true;
        }));
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && (WEXITSTATUS(status) == kStopped || WEXITSTATUS(status) == 0));
    return WEXITSTATUS(status);
}

class Journal : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir_ / "old/game.exe", Program(true, Code(1, 3000), Data(2, 400)));
        WriteFile(dir_ / "new/game.exe", Program(true, Code(3, 50) + Code(1, 3000), Data(2, 400)));
        WriteFile(dir_ / "old/data/a.dat", "alpha");
        WriteFile(dir_ / "new/data/a.dat", "alpha, second edition");
        WriteFile(dir_ / "old/gone/deep/b.dat", "bravo");
        WriteFile(dir_ / "new/sub/deep/added.txt", "added");
        PatchBuilder::Build(dir_ / "old", dir_ / "new", patch_);
    }
    TempDir dir_;
    fs::path patch_ = dir_ / "p.mrl", work_ = dir_ / "work";
};

TEST_F(Journal, AStopAtAnyStepLeavesTheOldOrTheNewTreeToTheNextApplication) {
    const Snapshot oldTree = TakeSnapshot(dir_ / "old"), newTree = TakeSnapshot(dir_ / "new");
    auto apply = [&](const StepFilter& hook) {
        return int(PatchApplier({hook}).Apply(patch_, work_));
    };
    auto recover = [&](const StepFilter& hook) {
        std::string message;
        return int(ApplyJournal::Recover(work_, hook, message));
    };
    // The tree as the patch's own application finds it, once the last one is settled.
    auto settleAndApply = [&](size_t k, size_t j) {
        Snapshot found = newTree;  // already applied: no journal is written
        ApplyOptions options{[&](const std::string& step, const fs::path&) {
            if (step == "journal") found = TakeSnapshot(work_);
            return true;
        }};
        EXPECT_EQ(PatchApplier(options).Apply(patch_, work_), R::Ok) << k << "," << j;
        EXPECT_TRUE(found == oldTree || found == newTree) << k << "," << j;
        EXPECT_EQ(TakeSnapshot(work_), newTree) << k << "," << j;
    };
    size_t k = 1;
    for (; CopyTree(dir_ / "old", work_), StopAt(k, apply) == kStopped; ++k) {
        CopyTree(work_, dir_ / "stopped");
        settleAndApply(k, 0);
        for (size_t j = 1; CopyTree(dir_ / "stopped", work_), StopAt(j, recover) == kStopped; ++j)
            settleAndApply(k, j);
    }
    EXPECT_GT(k, 19u);
}

// A journal whose own hash fails was cut short before the first change: it is
// dropped and the patch applied. One naming a path outside the tree is
// refused, and kept.
TEST_F(Journal, ADamagedJournalIsDroppedAndAHostileOneRefusedUntouched) {
    TempDir outside;
    const std::tuple<const char*, bool, R> cases[] = {{"data/a.dat", true, R::Ok},
                                                      {"../x", false, R::UnsafePath},
                                                      {"link/x", false, R::UnsafePath}};
    for (const auto& [path, damaged, result] : cases) {
        CopyTree(dir_ / "old", work_);
        fs::create_directory_symlink(outside.path, work_ / "link");
        WriteFile(outside / "x", "theirs");
        WriteFile(dir_ / "x", "theirs");
        const Snapshot before = TakeSnapshot(work_);
        ApplyJournal journal(work_, nullptr);
        journal.Add(ApplyJournal::Kind::Added, path);  // honoured, it would remove the file
        journal.Write();
        std::string bytes = ReadFile(work_ / kJournalName);
        bytes[16] = static_cast<char>(bytes[16] ^ damaged);  // the first byte of its hash
        WriteFile(work_ / kJournalName, bytes);
        EXPECT_EQ(PatchApplier().Apply(patch_, work_), result) << path;
        EXPECT_EQ(fs::remove(work_ / kJournalName), result != R::Ok) << path;
        EXPECT_TRUE(result == R::Ok || TakeSnapshot(work_) == before) << path;
        EXPECT_EQ(ReadFile(outside / "x") + ReadFile(dir_ / "x"), "theirstheirs") << path;
    }
}

}  // namespace
