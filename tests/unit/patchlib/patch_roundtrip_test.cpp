// Builds patches between generated trees and applies them: the result must be
// the new tree to the byte, and the downgrade built the other way round must
// bring the old tree back.
#include <gtest/gtest.h>

#include "patch_applier.h"
#include "patch_builder.h"
#include "tree_fixture.h"

namespace {

namespace fs = std::filesystem;
using patchlib::PatchResult;
using patchtest::Noise;
using patchtest::TakeSnapshot;
using patchtest::TempDir;
using patchtest::WriteFile;

// Old and new trees with every kind of change the builder knows.
void MakeTrees(const fs::path& oldRoot, const fs::path& newRoot) {
    std::string data = patchtest::GameData(1, 300000);
    // Changed in place: a few bytes overwritten.
    std::string edited = data;
    for (size_t i = 1000; i < edited.size(); i += 97000) edited[i] ^= 0x5A;
    WriteFile(oldRoot / "data/items.dat", data);
    WriteFile(newRoot / "data/items.dat", edited);
    // Grown (block inserted) and shrunk (block cut).
    WriteFile(oldRoot / "data/grow.dat", data.substr(0, 200000));
    WriteFile(newRoot / "data/grow.dat",
              data.substr(0, 50000) + Noise(2, 3000) + data.substr(50000, 150000));
    WriteFile(oldRoot / "data/shrink.dat", data.substr(100000, 200000));
    WriteFile(newRoot / "data/shrink.dat",
              data.substr(100000, 60000) + data.substr(200000, 100000));
    // Moved content: the same blocks in another order.
    WriteFile(oldRoot / "moved.pak", data.substr(0, 300000));
    WriteFile(newRoot / "moved.pak",
              data.substr(200000, 100000) + data.substr(0, 100000) + data.substr(100000, 100000));
    // Empty files: added empty, emptied, filled.
    WriteFile(newRoot / "empty/new-empty.txt", "");
    WriteFile(oldRoot / "emptied.txt", "some text");
    WriteFile(newRoot / "emptied.txt", "");
    WriteFile(oldRoot / "filled.txt", "");
    WriteFile(newRoot / "filled.txt", "now it has text");
    // Binary noise replaced by unrelated noise (stored whole, no useful delta).
    WriteFile(oldRoot / "noise.bin", Noise(3, 40000));
    WriteFile(newRoot / "noise.bin", Noise(4, 50000));
    // Added, removed, unchanged; a removed and an added directory.
    WriteFile(newRoot / "added/deep/file.txt", "fresh");
    WriteFile(oldRoot / "gone/old.txt", "old");
    WriteFile(oldRoot / "gone/sub/older.txt", "older");
    WriteFile(oldRoot / "same.txt", "unchanged");
    WriteFile(newRoot / "same.txt", "unchanged");
    WriteFile(oldRoot / "Readme.txt", "readme");
    WriteFile(newRoot / "\xc3\xa9t\xc3\xa9 notes.txt", "unicode name");
    fs::create_directories(oldRoot / "kept-empty");
    fs::create_directories(newRoot / "kept-empty");
}

TEST(PatchRoundTrip, UpgradeAndDowngradeGiveTheOtherTreeByteForByte) {
    TempDir dir;
    MakeTrees(dir / "old", dir / "new");
    patchlib::BuildSummary up =
        patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "up.mrl");
    patchlib::BuildSummary down =
        patchlib::PatchBuilder::Build(dir / "new", dir / "old", dir / "down.mrl");
    EXPECT_EQ(up.filesAdded, 3u);
    EXPECT_EQ(up.filesRemoved, 3u);
    EXPECT_EQ(up.filesChanged, 7u);
    EXPECT_EQ(up.filesUnchanged, 1u);
    EXPECT_EQ(down.filesAdded, 3u);
    EXPECT_EQ(down.filesRemoved, 3u);

    patchtest::CopyTree(dir / "old", dir / "work");
    std::string message;
    patchlib::ApplySummary summary;
    ASSERT_EQ(patchlib::PatchApplier().Apply(dir / "up.mrl", dir / "work", &message, &summary),
              PatchResult::Ok)
        << message;
    EXPECT_EQ(TakeSnapshot(dir / "work"), TakeSnapshot(dir / "new"));
    EXPECT_EQ(summary.backupsLeft, 0u);
    EXPECT_FALSE(summary.alreadyApplied);

    ASSERT_EQ(patchlib::PatchApplier().Apply(dir / "down.mrl", dir / "work", &message),
              PatchResult::Ok)
        << message;
    EXPECT_EQ(TakeSnapshot(dir / "work"), TakeSnapshot(dir / "old"));
}

TEST(PatchRoundTrip, ScatteredEditsAndMovedBlocksInALargeFileMakeASmallDelta) {
    TempDir dir;
    std::string data = patchtest::GameData(9, 2 << 20);
    std::string edited = data;
    for (size_t i = 12345; i < edited.size(); i += 200000) edited.replace(i, 8, "PATCHED!");
    // Move a 128 KiB block to the end and insert a new 10 KiB block.
    edited = edited.substr(0, 512 << 10) + edited.substr((512 << 10) + (128 << 10)) +
             edited.substr(512 << 10, 128 << 10);
    edited.insert(3 << 19, Noise(5, 10 << 10));
    WriteFile(dir / "old/world.dat", data);
    WriteFile(dir / "new/world.dat", edited);
    patchlib::BuildSummary summary =
        patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "p.mrl");
    EXPECT_EQ(summary.deltas, 1u);
    // The inserted noise alone is 10 KiB; everything else must cost little.
    EXPECT_LT(summary.patchBytes, 16u << 10);

    patchtest::CopyTree(dir / "old", dir / "work");
    std::string message;
    ASSERT_EQ(patchlib::PatchApplier().Apply(dir / "p.mrl", dir / "work", &message),
              PatchResult::Ok)
        << message;
    EXPECT_EQ(patchtest::ReadFile(dir / "work/world.dat"), edited);
}

TEST(PatchRoundTrip, PiecewiseMatchingOfFilesLargerThanTheWindowStillRoundTrips) {
    TempDir dir;
    std::string data = patchtest::GameData(11, 700000);
    std::string edited = data.substr(0, 300000) + Noise(6, 5000) + data.substr(300000);
    for (size_t i = 0; i < edited.size(); i += 50000) edited[i] = '#';
    WriteFile(dir / "old/big.dat", data);
    WriteFile(dir / "new/big.dat", edited);
    patchlib::BuildOptions options;
    options.window = 64 << 10;
    patchlib::BuildSummary summary =
        patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "p.mrl", options);
    EXPECT_EQ(summary.deltas, 1u);
    EXPECT_LT(summary.patchBytes, 60000u);
    patchtest::CopyTree(dir / "old", dir / "work");
    ASSERT_EQ(patchlib::PatchApplier().Apply(dir / "p.mrl", dir / "work"), PatchResult::Ok);
    EXPECT_EQ(patchtest::ReadFile(dir / "work/big.dat"), edited);
}

TEST(PatchRoundTrip, TheSameTreesGiveTheSameBytes) {
    TempDir dir;
    MakeTrees(dir / "old", dir / "new");
    patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "a.mrl");
    patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "b.mrl");
    std::string a = patchtest::ReadFile(dir / "a.mrl");
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, patchtest::ReadFile(dir / "b.mrl"));
    EXPECT_FALSE(fs::exists(dir / "a.mrl.tmp"));
    EXPECT_FALSE(fs::exists(dir / "a.mrl.payload.tmp"));
}

// A run that stopped after applying but before recording the new version
// sees the same patch again: it must succeed without touching anything.
TEST(PatchRoundTrip, ApplyingToAnAlreadyPatchedTreeSucceedsWithoutChanges) {
    TempDir dir;
    MakeTrees(dir / "old", dir / "new");
    patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "p.mrl");
    patchtest::CopyTree(dir / "new", dir / "work");
    patchlib::ApplySummary summary;
    ASSERT_EQ(patchlib::PatchApplier().Apply(dir / "p.mrl", dir / "work", nullptr, &summary),
              PatchResult::Ok);
    EXPECT_TRUE(summary.alreadyApplied);
    EXPECT_EQ(TakeSnapshot(dir / "work"), TakeSnapshot(dir / "new"));
}

TEST(PatchRoundTrip, IdenticalTreesGiveAPatchThatChangesNothing) {
    TempDir dir;
    WriteFile(dir / "old/a.txt", "same");
    WriteFile(dir / "new/a.txt", "same");
    patchlib::BuildSummary summary =
        patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "p.mrl");
    EXPECT_EQ(summary.filesUnchanged, 1u);
    EXPECT_EQ(summary.filesAdded + summary.filesChanged + summary.filesRemoved, 0u);
    ASSERT_EQ(patchlib::PatchApplier().Apply(dir / "p.mrl", dir / "old"), PatchResult::Ok);
    EXPECT_EQ(TakeSnapshot(dir / "old"), TakeSnapshot(dir / "new"));
}

TEST(PatchBuild, RefusesWhatAPatchCannotCarry) {
    TempDir dir;
    WriteFile(dir / "old/x/inner.txt", "a directory in the old tree");
    WriteFile(dir / "new/x", "a file in the new tree");
    EXPECT_THROW(patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "p.mrl"),
                 patchlib::PatchError);
    EXPECT_FALSE(fs::exists(dir / "p.mrl"));

    TempDir second;
    WriteFile(second / "old/a.txt", "a");
    WriteFile(second / "new/A.TXT", "b");
    WriteFile(second / "new/a.txt", "c");
    EXPECT_THROW(patchlib::PatchBuilder::Build(second / "old", second / "new", second / "p.mrl"),
                 patchlib::PatchError);
    EXPECT_THROW(
        patchlib::PatchBuilder::Build(second / "missing", second / "new", second / "p.mrl"),
        patchlib::PatchError);
}

}  // namespace
