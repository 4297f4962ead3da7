// A patch that fails, for whatever reason, leaves the tree exactly as it was.
#include <gtest/gtest.h>

#include <array>
#include <utility>

#include "common/byte_order.h"
#include "delta/code_layout.h"
#include "apply/patch_applier.h"
#include "builder/patch_builder.h"
#include "patch_kit.h"
#include "names/patch_path.h"
#include "format/patch_writer.h"
#include "zlib/zlib_writer.h"

namespace {

using namespace patchlib;
using namespace patchtest;
using R = PatchResult;

Digest Hash(const std::string& s) { return Sha256::Of(s.data(), s.size()); }

// Applies a hand-made patch of one entry, its sections given raw.
R ApplyEntry(const fs::path& tree, const PatchEntry& entry, const std::vector<std::string>& raw) {
    std::vector<std::string> sections;
    std::vector<uint64_t> sizes;
    for (const std::string& section : raw) {
        sections.push_back(ZlibWriter::Compress(section));
        sizes.push_back(section.size());
    }
    PatchWriter writer(tree.parent_path() / "hand-made");
    writer.Add(entry, sections, sizes);
    writer.Finish();
    return PatchApplier().Apply(tree.parent_path() / "hand-made", tree);
}

class PatchFailure : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir_ / "old/game.exe", Program(true, Code(1, 20000), Data(2, 800)));
        WriteFile(dir_ / "new/game.exe", Program(true, Code(3, 99) + Code(1, 20000), Data(2, 800)));
        WriteFile(dir_ / "old/data/a.dat", "alpha");
        WriteFile(dir_ / "new/data/a.dat", "alpha, second edition");
        WriteFile(dir_ / "old/data/b.dat", "bravo");
        WriteFile(dir_ / "new/sub/added.txt", "added");
        WriteFile(dir_ / "new/z-last.txt", "last");
        PatchBuilder::Build(dir_ / "old", dir_ / "new", patch_);
        CopyTree(dir_ / "old", work_);
    }
    // Applies to the work tree; a failure must not have changed it.
    R Apply(const std::string& bytes, ApplyOptions options = {}) {
        const Snapshot before = TakeSnapshot(work_);
        WriteFile(dir_ / "q.mrl", bytes);
        R result = PatchApplier(std::move(options)).Apply(dir_ / "q.mrl", work_);
        EXPECT_TRUE(result == R::Ok || TakeSnapshot(work_) == before);
        return result;
    }
    TempDir dir_;
    fs::path patch_ = dir_ / "p.mrl", work_ = dir_ / "work";
};

// Fails the n-th change the applier tries, for every n of a full run.
TEST_F(PatchFailure, AFailureAtAnyStepPutsEverythingBackOrKeepsTheBackups) {
    size_t failAt = 0, count = 0;
    ApplyOptions options;
    options.allowStep = [&](const std::string&, const fs::path&) { return count++ != failAt; };
    while ((count = 0, Apply(ReadFile(patch_), options)) == R::WriteFailed) ++failAt;
    EXPECT_EQ(PatchApplier().Apply(patch_, work_), R::Ok);       // removes what a refusal left
    EXPECT_EQ(TakeSnapshot(work_), TakeSnapshot(dir_ / "new"));  // past the commit point
    EXPECT_GE(failAt, 12u);
    CopyTree(dir_ / "old", work_);  // restoring fails as well: the backups stay
    options.allowStep = [](const std::string& step, const fs::path& path) {
        return step != "restore" &&
               (step != "install" || path.filename() != "z-last.txt.mrlpatch-new");
    };
    EXPECT_EQ(PatchApplier(options).Apply(patch_, work_), R::RollbackFailed);
    EXPECT_EQ(ReadFile(work_ / "data/b.dat.mrlpatch-old"), "bravo");
}

TEST_F(PatchFailure, OnlyTheOldTreeOrWhatARunLeftIsPatched) {
    const std::tuple<const char*, const char*, R> states[] = {
        {"data/b.dat", "Bravo", R::TreeMismatch},                  // edited by the player
        {"data/a.dat", "alpha, second edition", R::TreeMismatch},  // half new
        {"game.exe", nullptr, R::TreeMismatch},
        {"z-last.txt.mrlpatch-new/x", "our scratch name taken", R::WriteFailed},
        {"z-last.txt.mrlpatch-old", "a stale backup: ours to clear", R::Ok}};
    for (auto [path, content, result] : states) {
        CopyTree(dir_ / "old", work_);
        content ? WriteFile(work_ / path, content) : void(fs::remove(work_ / path));
        EXPECT_EQ(Apply(ReadFile(patch_)), result) << path;
    }
    EXPECT_EQ(TakeSnapshot(work_), TakeSnapshot(dir_ / "new"));
    EXPECT_EQ(PatchApplier().Apply(patch_, dir_ / "absent"), R::TreeMismatch);
    EXPECT_FALSE(fs::exists(dir_ / "absent"));
}

TEST_F(PatchFailure, APathOrLinkLeavingTheTreeRefusesTheWholePatch) {
    for (const char* path : {"a b/c d.txt", "x..y", ".hidden", "COM10", "a.mrlpatch-old.txt"})
        EXPECT_TRUE(PatchPath::IsSafe(path)) << path;
    for (const char* path : {"", "/etc/passwd", "a/..", ".", "a//b", "a/", "C:x", "a\\b", "con",
                             "data/NUL.txt", "LPT1", "dot.", "blank ", "tab\t", "q?", "<", "|"})
        EXPECT_FALSE(PatchPath::IsSafe(path)) << path;
    EXPECT_FALSE(PatchPath::IsSafe(std::string(1025, 'a')));
    TempDir outside;
    fs::create_directory_symlink(outside.path, work_ / "link");
    const Snapshot before = TakeSnapshot(work_);
    for (const char* path :
         {"../escaped.txt", "link/escaped.txt", ".mrlpatch-journal", "a/B.MRLPATCH-OLD"})
        EXPECT_EQ(
            ApplyEntry(work_, {EntryKind::AddFile, path, 0, {}, 4, Hash("evil"), {}}, {"evil"}),
            R::UnsafePath);
    EXPECT_TRUE(fs::is_empty(outside.path) && TakeSnapshot(work_) == before);
}

TEST_F(PatchFailure, ACutOrChangedByteIsRefusedAndTrailingBlocksSkippedUnlessNeeded) {
    const std::string bytes = ReadFile(patch_);
    for (size_t length : {size_t{0}, size_t{56}, size_t{80}, bytes.size() / 2, bytes.size() - 1})
        EXPECT_EQ(Apply(bytes.substr(0, length)), R::CorruptPatch) << length;
    for (size_t i = 0; i < bytes.size(); i += i < 200 ? 1 : bytes.size() / 200) {
        std::string damaged = bytes;
        damaged[i] = static_cast<char>(damaged[i] ^ (1 << (i % 8)));
        ASSERT_NE(Apply(damaged), R::Ok) << "byte " << i;
    }
    // Blocks of kind 7 holding "abc"; the second may not be skipped.
    const std::string block("\7\0\0\0\0\0\0\0\3\0\0\0\0\0\0\0abc", 19),
        needed("\7\0\0\0\1\0\0\0\3\0\0\0\0\0\0\0abc", 19);
    for (const std::string& tail : {std::string("x"), block + block.substr(0, 18), needed})
        EXPECT_EQ(Apply(bytes + tail), R::CorruptPatch);
    EXPECT_EQ(Apply(bytes + block + block), R::Ok);
    EXPECT_EQ(PatchApplier().Apply(dir_ / "absent", work_), R::CannotReadPatch);
}

// The patch is read through the one handle its checks used: another file
// moved over its name, or its removal, during the apply changes nothing; its
// bytes written over in place (refused on Windows) cannot bring in others.
TEST_F(PatchFailure, ThePatchChangedDuringTheApplyIsNotWhatGetsApplied) {
    WriteFile(dir_ / "evil/data/a.dat", "alpha, unsigned edition");
    PatchBuilder::Build(dir_ / "old", dir_ / "evil", dir_ / "evil.mrl");
    const std::pair<const char*, R> cases[] = {
        {"move", R::Ok}, {"remove", R::Ok}, {"overwrite", R::CorruptPatch}};
    for (const auto& [how, result] : cases) {
        CopyTree(dir_ / "old", work_);
        const std::string change = how;
        bool changed = false;
        ApplyOptions options;
        options.allowStep = [&](const std::string& step, const fs::path&) {
            if (step != "create" || std::exchange(changed, true)) return true;
            if (change == "move") fs::copy_file(dir_ / "evil.mrl", dir_ / "moved");
            if (change == "move") fs::rename(dir_ / "moved", dir_ / "q.mrl");
            if (change == "remove") fs::remove(dir_ / "q.mrl");
            if (change == "overwrite") WriteFile(dir_ / "q.mrl", ReadFile(dir_ / "evil.mrl"));
            return true;
        };
        EXPECT_EQ(Apply(ReadFile(patch_), options), result) << how;
        EXPECT_NE(ReadFile(work_ / "data/a.dat"), "alpha, unsigned edition") << how;
    }
    EXPECT_EQ(TakeSnapshot(work_), TakeSnapshot(dir_ / "old"));
}

// A link planted at one of our new names, or at a directory to be made,
// after the checks is never followed.
TEST_F(PatchFailure, ALinkPlantedAfterTheChecksIsNotFollowed) {
    TempDir outside;
    WriteFile(outside / "x", "theirs");
    for (const std::string planted : {"journal", "create", "mkdir"}) {
        CopyTree(dir_ / "old", work_);
        bool done = false;
        ApplyOptions options;
        options.allowStep = [&](const std::string& step, const fs::path& path) {
            if (step != planted || std::exchange(done, true)) return true;
            step == "mkdir" ? fs::create_directory_symlink(outside.path, path)
                            : fs::create_symlink(outside / "x", path);
            return true;
        };
        EXPECT_NE(PatchApplier(options).Apply(patch_, work_), R::Ok) << planted;
        EXPECT_EQ(TakeSnapshot(outside.path), (Snapshot{{"x", "theirs"}})) << planted;
        EXPECT_EQ(ReadFile(work_ / "data/a.dat"), "alpha") << planted;
    }
}

// Removing a stale backup that is a hard link to someone's read-only file
// leaves that file's mode as it was.
TEST_F(PatchFailure, AHardLinkAtAScratchNameKeepsItsMode) {
    TempDir outside;
    WriteFile(outside / "x", "theirs");
    fs::permissions(outside / "x", fs::perms::owner_read);
    fs::create_hard_link(outside / "x", work_ / "data/b.dat.mrlpatch-old");
    EXPECT_EQ(PatchApplier().Apply(patch_, work_), R::Ok);
    EXPECT_EQ(fs::status(outside / "x").permissions(), fs::perms::owner_read);
}

TEST(DeltaSections, InconsistentOnesAreRefused) {
    using Sections = std::array<std::string, kDeltaSections>;
    auto raw = [](const char* bytes, size_t size) { return std::string(bytes, size); };
    // bravo to Bravo!: copy 5, the diff E0 (b + E0 = B) then four zeros; 1 literal byte.
    const Sections bravo = {raw("\0\0", 2), raw("\0\5\2", 3), raw("\0\1\4\0", 4), "\xe0", "!"};
    // A program whose code is one call: its field is predicted (outcome 0).
    const std::string program = Program(true, raw("\xE8\0\0\0\0", 5) + std::string(59, 'A'), "");
    std::string layout, all;
    CodeLayout::Detect(reinterpret_cast<const unsigned char*>(program.data()), program.size())
        .Encode(layout);
    PutVarint(all, program.size());
    const Sections call = {
        layout + layout, raw("\0", 1) + all + raw("\0", 1), all + raw("\0", 1), "", "", "", "\x04"};
    auto apply = [&](const Sections& sections, bool isBravo) {
        TempDir dir;
        const std::string old = isBravo ? "bravo" : program, now = isBravo ? "Bravo!" : program;
        WriteFile(dir / "tree/f", old);
        return ApplyEntry(
            dir / "tree",
            {EntryKind::DeltaFile, "f", old.size(), Hash(old), now.size(), Hash(now), {}},
            {sections.begin(), sections.end()});
    };
    ASSERT_EQ(apply(bravo, true), R::Ok);
    ASSERT_EQ(apply(call, false), R::Ok);
    const std::tuple<const char*, bool, size_t, std::string> cases[] = {
        {"seek past the old file", true, kControl, raw("\xc0\x9a\x0c\5\2", 5)},
        {"copy past the old file", true, kControl, raw("\2\5\2", 3)},
        {"literals from the empty stream", true, kControl, raw("\0\5\3", 3)},
        {"diff longer than the copies", true, kDiffRuns, raw("\0\1\x09\0", 4)},
        {"diff shorter than the copies", true, kDiffRuns, raw("\0\1", 2)},
        {"an empty diff run", true, kDiffRuns, raw("\0\0\0\1\4\0", 6)},
        {"diff literals left over", true, kDiffLiterals, "\xe0\x01"},
        {"literal bytes left over", true, kExtra, "!?"},
        {"plain literal bytes left over", true, kPlainExtra, "?"},
        {"a cut layout", true, kLayout, ""},
        {"a layout for one file only", false, kLayout, raw("\0", 1) + layout},
        {"no outcome", false, kFieldOutcomes, ""},
        {"an outcome for another kind", false, kFieldOutcomes, "\x0c"},
        {"an unknown outcome", false, kFieldOutcomes, "\x07"},
        {"a given value missing", false, kFieldOutcomes, "\x06"},
        {"outcomes left over", false, kFieldOutcomes, "\x04\x04"},
        {"values left over", false, kFieldValues, "\x01"}};
    for (const auto& [what, isBravo, section, bytes] : cases) {
        Sections sections = isBravo ? bravo : call;
        sections[section] = bytes;
        EXPECT_EQ(apply(sections, isBravo), R::CorruptPatch) << what;
    }
}

}  // namespace
