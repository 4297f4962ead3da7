// Patches between two trees turn one into the other byte for byte, both ways.
#include <gtest/gtest.h>

#include <set>

#include "apply/patch_applier.h"
#include "builder/patch_builder.h"
#include "patch_kit.h"
#include "delta/suffix_array.h"

namespace {

using namespace patchlib;
using namespace patchtest;

std::string Edit(std::string data, size_t every) {
    for (size_t i = every / 2; i < data.size(); i += every) data[i] = static_cast<char>(~data[i]);
    return data;
}

// Every kind of change the builder knows, on every kind of content.
void MakeTrees(const fs::path& oldRoot, const fs::path& newRoot) {
    const std::string text = Noise(1, 300000, "npc_;zone=North\n1234"), code = Code(5, 300000),
                      data = Data(6, 4096);
    const std::string moved = Edit(code.substr(0, 1000) + Noise(7, 777) + code.substr(1000), 7);
    const std::string pairs[][3] = {
        {"data/records.dat", text, Edit(text.substr(200000) + Noise(2, 3000) + text, 97)},
        {"noise.bin", Noise(3, 40000), Noise(4, 50000)},
        {"bin/game.elf", Program(false, code, data), Program(false, moved, Edit(data, 40))},
        {"bin/game.exe", Program(true, code, data), Program(true, moved, Edit(data, 44))},
        {"bin/cut.elf", Program(false, code.substr(0, 9000), ""),  // a field cut by the end
         Program(false, moved.substr(0, 9900) + "\xE8\x01\x02", "")},
        {"bin/mixed", Program(false, code, data), Program(true, moved, data)},
        {"emptied.txt", "some text", ""},
        {"filled.txt", "", "now it has text"},
        {"same.txt", "unchanged", "unchanged"}};
    for (const auto& [name, before, after] : pairs) {
        WriteFile(oldRoot / name, before);
        WriteFile(newRoot / name, after);
    }
    WriteFile(newRoot / "added/deep/\xc3\xa9t\xc3\xa9.txt", "fresh");
    WriteFile(oldRoot / "gone/sub/old.txt", "old");
}

TEST(PatchRoundTrip, UpgradeAndDowngradeGiveTheOtherTreeExactly) {
    TempDir dir;
    MakeTrees(dir / "old", dir / "new");
    // The default window, and one so small that files are matched piecewise.
    for (uint64_t window : {DeltaEncoder::kDefaultWindow, uint64_t{64} << 10}) {
        const BuildOptions options{window, {}};
        for (const char* out : {"up", "again"})
            PatchBuilder::Build(dir / "old", dir / "new", dir / out, options);
        PatchBuilder::Build(dir / "new", dir / "old", dir / "down", options);
        EXPECT_EQ(ReadFile(dir / "up"), ReadFile(dir / "again"));  // deterministic
        CopyTree(dir / "old", dir / "work");
        // Twice: a run stopped before recording the version applies it again.
        for (const char* patch : {"up", "up"})
            ASSERT_EQ(PatchApplier().Apply(dir / patch, dir / "work"), PatchResult::Ok);
        EXPECT_EQ(TakeSnapshot(dir / "work"), TakeSnapshot(dir / "new"));
        ASSERT_EQ(PatchApplier().Apply(dir / "down", dir / "work"), PatchResult::Ok);
        EXPECT_EQ(TakeSnapshot(dir / "work"), TakeSnapshot(dir / "old"));
    }
    // Two names differing only in case would be one file on Windows.
    WriteFile(dir / "new/Same.TXT", "clash");
    EXPECT_THROW(PatchBuilder::Build(dir / "old", dir / "new", dir / "clash"), PatchError);
    EXPECT_FALSE(fs::exists(dir / "clash"));
}

// A replaced file keeps its permission bits, read-only ones included.
TEST(PatchRoundTrip, AReplacedFileKeepsItsMode) {
    TempDir dir;
    using P = fs::perms;
    const P modes[] = {P::owner_all | P::group_read | P::group_exec, P::owner_read | P::group_read,
                       P::owner_read | P::owner_write};
    for (size_t i = 0; i < std::size(modes); ++i) {
        WriteFile(dir / "old" / std::to_string(i), "old");
        WriteFile(dir / "new" / std::to_string(i), "new");
    }
    PatchBuilder::Build(dir / "old", dir / "new", dir / "p");
    for (size_t i = 0; i < std::size(modes); ++i)
        fs::permissions(dir / "old" / std::to_string(i), modes[i]);
    ASSERT_EQ(PatchApplier().Apply(dir / "p", dir / "old"), PatchResult::Ok);
    for (size_t i = 0; i < std::size(modes); ++i) {
        EXPECT_EQ(ReadFile(dir / "old" / std::to_string(i)), "new");
        EXPECT_EQ(fs::status(dir / "old" / std::to_string(i)).permissions(), modes[i]) << i;
    }
}

// Patches as the first mkpatch wrote them (format 1) still apply.
TEST(PatchFormat1, StillApplies) {
    TempDir dir;
    WriteFuzzTree(dir / "tree");
    ASSERT_EQ(PatchApplier().Apply(PATCH_SEEDS "/upgrade-v1.mrl", dir / "tree"), PatchResult::Ok);
    EXPECT_EQ(ReadFile(dir / "tree/a.txt"), "hello patched world\n");
}

// Small alphabets and repeats force the recursion on LMS names, where induced
// sorting goes wrong if it goes wrong at all; the large input, deep recursion.
TEST(SuffixArray, SortsEverySuffix) {
    std::vector<std::string> inputs = {std::string(1000, 'a'), "mississippi",
                                       Noise(3, 200000, "ab")};
    for (uint32_t round = 0; round < 300; ++round)
        inputs.push_back(Noise(round, round, std::string(1 + round % 4, 'a') + "bcd"));
    for (const std::string& s : inputs) {
        std::vector<int32_t> sa = SuffixArray::Build(
            reinterpret_cast<const unsigned char*>(s.data()), static_cast<int32_t>(s.size()));
        ASSERT_EQ(std::set<int32_t>(sa.begin(), sa.end()).size(), s.size());
        for (size_t i = 1; i < sa.size(); ++i)
            ASSERT_LT(s.compare(sa[i - 1], std::string::npos, s, sa[i]), 0) << s.size() << " " << i;
    }
}

}  // namespace
