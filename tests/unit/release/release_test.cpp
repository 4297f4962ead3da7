// Releases from generated trees: the patch builder's files, the manifest with
// direct steps, rebuilds of what changed only, no manifest after a failure.
#include "release.h"

#include <gtest/gtest.h>

#include <set>

#include "builder/patch_builder.h"
#include "patch_kit.h"
#include "format/patch_reader.h"

namespace {

namespace fs = std::filesystem;
using patchtest::ReadFile;
using patchtest::WriteFile;

class Release : public ::testing::Test {
protected:
    void MakeTrees(uint32_t count) {
        for (uint32_t v = 1; v <= count; ++v) {
            WriteFile(trees_ / std::to_string(v) / "Data/World.dat",
                      patchtest::Noise(1, 30000, "record ") + patchtest::Noise(v, 300));
            WriteFile(trees_ / std::to_string(v) / "Version.Txt", std::to_string(v) + "\r\n");
        }
    }
    auto Build(uint32_t direct) { return release::BuildRelease(trees_, out_, {3, direct, {}}); }
    std::string ServedSteps() {  // the manifest after its comment line
        std::string text = ReadFile(out_ / "manifest.txt");
        return text.substr(text.find('\n') + 1);
    }

    patchtest::TempDir dir_;
    fs::path trees_ = dir_ / "trees", out_ = dir_ / "out";
};

// Direct patches for the two versions before the newest: 3 needs none, 1 gets none.
TEST_F(Release, FilesAreThePatchBuildersAndTheManifestListsTheServedSteps) {
    MakeTrees(4);
    release::Report report = Build(2);
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(report.steps.size(), 7u);
    for (const auto& result : report.steps) {
        const release::Step& step = result.step;
        patchlib::PatchBuilder::Build(trees_ / std::to_string(step.from),
                                      trees_ / std::to_string(step.to), dir_ / "alone.rtp");
        EXPECT_TRUE(ReadFile(out_ / step.Name()) == ReadFile(dir_ / "alone.rtp")) << step.Name();
    }
    EXPECT_EQ(ServedSteps(), "1 2 1to2.rtp\n2 3 2to3.rtp\n2 4 2to4.rtp\n3 4 3to4.rtp\n");
}

TEST_F(Release, RebuildsOnlyTheStepsWhoseTreesOrFilesChanged) {
    MakeTrees(3);
    ASSERT_TRUE(Build(2).ok);
    const struct {
        const char* change;
        std::function<void()> apply;
        std::set<std::string> built;
    } cases[] = {
        {"nothing", [] {}, {}},
        {"tree 3",
         [&] { WriteFile(trees_ / "3/Data/New.dat", "new"); },
         {"2to3.rtp", "3to2.rtp", "1to3.rtp"}},
        {"a file renamed in tree 1",
         [&] { fs::rename(trees_ / "1/Version.Txt", trees_ / "1/Version.txt"); },
         {"1to2.rtp", "2to1.rtp", "1to3.rtp"}},
        {"a patch altered", [&] { WriteFile(out_ / "3to2.rtp", "x"); }, {"3to2.rtp"}},
        {"a patch removed", [&] { fs::remove(out_ / "2to1.rtp"); }, {"2to1.rtp"}},
    };
    for (const auto& c : cases) {
        c.apply();
        std::set<std::string> built;
        for (const auto& result : Build(2).steps)
            if (result.built) built.insert(result.step.Name());
        EXPECT_EQ(built, c.built) << c.change;
        EXPECT_EQ(ServedSteps(), "1 2 1to2.rtp\n1 3 1to3.rtp\n2 3 2to3.rtp\n") << c.change;
    }
    // A release without version 1 removes the files made for it, and only those.
    WriteFile(out_ / "notes.txt", "the studio's own");
    fs::remove_all(trees_ / "1");
    ASSERT_TRUE(Build(2).ok);
    for (const char* gone : {"1to2.rtp", "2to1.rtp", "1to3.rtp"})
        EXPECT_FALSE(fs::exists(out_ / gone)) << gone;
    EXPECT_TRUE(fs::exists(out_ / "notes.txt") && fs::exists(out_ / "3to2.rtp"));
    EXPECT_EQ(ServedSteps(), "2 3 2to3.rtp\n");
}

// Every output is signed, downgrades and direct patches too; a new key rebuilds them all.
TEST_F(Release, WithAKeyEveryPatchIsSignedByIt) {
    MakeTrees(3);
    for (const patchlib::KeyPair& key :
         {patchlib::EcdsaP256::Generate(), patchlib::EcdsaP256::Generate()}) {
        for (const auto& result : release::BuildRelease(trees_, out_, {3, 2, {}, &key}).steps) {
            EXPECT_TRUE(result.built) << result.step.Name();
            patchlib::PatchReader().Open(out_ / result.step.Name(), {key.publicKey});  // or throws
        }
    }
}

// A step the builder refuses (a case clash) leaves no manifest, old or new.
TEST_F(Release, AFailedStepLeavesNoManifest) {
    MakeTrees(3);
    ASSERT_TRUE(Build(0).ok);
    WriteFile(trees_ / "3/version.txt", "3");
    release::Report report = Build(0);
    EXPECT_FALSE(report.ok);
    EXPECT_FALSE(fs::exists(out_ / "manifest.txt"));
    for (const auto& result : report.steps)
        EXPECT_EQ(result.error.empty(), result.step.from != 3 && result.step.to != 3);
}

TEST_F(Release, RefusesTreesThatAreNotOneDirectoryPerConsecutiveVersion) {
    const struct {
        std::vector<const char*> entries;
        const char* named;
    } cases[] = {{{}, "is not a directory"},
                 {{"1", "2", "beta"}, "beta"},
                 {{"1", "02"}, "02"},
                 {{"1", "2", "4"}, "version 3"},
                 {{"1"}, "at least two"}};
    for (const auto& c : cases) {
        patchtest::TempDir dir;
        fs::path trees = c.entries.empty() ? dir / "none" : dir.path;
        for (const char* entry : c.entries) fs::create_directory(dir / entry);
        try {
            release::BuildRelease(trees, dir / "out", {});
            ADD_FAILURE() << c.named;
        } catch (const release::InputError& error) {
            EXPECT_NE(std::string(error.what()).find(c.named), std::string::npos) << error.what();
        }
    }
}

}  // namespace
