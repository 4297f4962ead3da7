// The applier on Windows, as Wine shows it: the patch held shut while it is
// applied, links in the install seen through the Win32 attributes, the
// attributes of replaced and foreign files, and a loaded file replaced.
#include <windows.h>

#include <gtest/gtest.h>

#include "apply/apply_journal.h"
#include "apply/patch_applier.h"
#include "builder/patch_builder.h"
#include "names/patch_path.h"
#include "patch_kit.h"

namespace {

using namespace patchtest;
using namespace patchlib;
using R = PatchResult;

DWORD Attributes(const fs::path& path) { return GetFileAttributesW(path.c_str()); }

class PatchW32Applier : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir_ / "old/Game.exe", "old");
        WriteFile(dir_ / "new/Game.exe", "new");
        PatchBuilder::Build(dir_ / "old", dir_ / "new", patch_);
        CopyTree(dir_ / "old", game_);
    }
    TempDir dir_;
    fs::path patch_ = dir_ / "p.rtp", game_ = dir_ / "game";
};

// While it is applied, nobody writes, renames or deletes the patch.
TEST_F(PatchW32Applier, ThePatchIsHeldShutWhileItIsApplied) {
    WriteFile(dir_ / "other", "other");
    std::vector<bool> refused;
    ApplyOptions options;
    options.allowStep = [&](const std::string& step, const fs::path&) {
        if (step != "create") return true;
        HANDLE writer =
            CreateFileW(patch_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        refused.push_back(writer == INVALID_HANDLE_VALUE);
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        refused.push_back(
            !MoveFileExW((dir_ / "other").c_str(), patch_.c_str(), MOVEFILE_REPLACE_EXISTING));
        refused.push_back(!DeleteFileW(patch_.c_str()));
        return true;
    };
    EXPECT_EQ(PatchApplier(options).Apply(patch_, game_), R::Ok);
    EXPECT_EQ(refused, std::vector<bool>(3, true));
    EXPECT_EQ(ReadFile(game_ / "Game.exe"), "new");
}

// A directory link inside the install (what Wine shows a junction as): no
// entry and no journal record reaches through it.
TEST_F(PatchW32Applier, ALinkedDirectoryInTheInstallIsNeverFollowed) {
    const fs::path linked = fs::path(LINKED_TREE);
    ASSERT_TRUE(Attributes(linked / "link") & FILE_ATTRIBUTE_REPARSE_POINT);
    fs::remove(linked / "outside/escaped.txt");
    WriteFile(linked / "outside/kept.txt", "theirs");
    WriteFile(dir_ / "evil/Game.exe", "old");
    WriteFile(dir_ / "evil/link/escaped.txt", "evil");
    PatchBuilder::Build(dir_ / "old", dir_ / "evil", dir_ / "evil.rtp");
    EXPECT_EQ(PatchApplier().Apply(dir_ / "evil.rtp", linked), R::UnsafePath);
    {
        ApplyJournal journal(linked, nullptr);
        journal.Add(ApplyJournal::Kind::Added, "link/kept.txt");  // honoured, it would go
        journal.Write();
    }
    EXPECT_EQ(PatchApplier().Apply(patch_, linked), R::UnsafePath);
    fs::remove(linked / kJournalName);
    EXPECT_FALSE(fs::exists(linked / "outside/escaped.txt"));
    EXPECT_EQ(ReadFile(linked / "outside/kept.txt"), "theirs");
}

// Both ways: applied, and put back over the read-only new file when the
// commit fails.
TEST_F(PatchW32Applier, AReplacedFileKeepsItsAttributes) {
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesW((game_ / "Game.exe").c_str(), kept));
    ApplyOptions failing;
    failing.allowStep = [](const std::string& step, const fs::path&) { return step != "commit"; };
    EXPECT_EQ(PatchApplier(failing).Apply(patch_, game_), R::WriteFailed);
    EXPECT_EQ(ReadFile(game_ / "Game.exe"), "old");
    EXPECT_EQ(Attributes(game_ / "Game.exe") & kept, kept);
    EXPECT_EQ(TakeSnapshot(game_).size(), 1u);
    ASSERT_EQ(PatchApplier().Apply(patch_, game_), R::Ok);
    EXPECT_EQ(ReadFile(game_ / "Game.exe"), "new");
    EXPECT_EQ(Attributes(game_ / "Game.exe") & kept, kept);
}

// A patch that replaces a loaded library (as the updater's own patch replaces
// PATCHW32.dll and the running MirelandsUpdate.exe): Windows moves the loaded
// file but does not remove it, so it waits under its own name until it is
// free, and the next settling removes it.
TEST_F(PatchW32Applier, ALoadedLibraryIsReplacedAndRemovedOnceFree) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string library = ReadFile(fs::path(self).parent_path() / "PATCHW32.dll");
    WriteFile(dir_ / "old/Lib.dll", library);
    WriteFile(dir_ / "new/Lib.dll", library + "a newer build");
    PatchBuilder::Build(dir_ / "old", dir_ / "new", patch_);
    CopyTree(dir_ / "old", game_);
    HMODULE loaded = LoadLibraryW((game_ / "Lib.dll").c_str());
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(PatchApplier().Apply(patch_, game_), R::Ok);
    EXPECT_EQ(ReadFile(game_ / "Lib.dll"), library + "a newer build");
    EXPECT_EQ(ReadFile(game_ / "Lib.dll.mrlpatch-gone"), library);
    std::string message;
    EXPECT_EQ(ApplyJournal::Recover(game_, nullptr, message), R::Ok);  // still loaded: kept
    EXPECT_TRUE(fs::exists(game_ / "Lib.dll.mrlpatch-gone"));
    FreeLibrary(loaded);
    EXPECT_EQ(ApplyJournal::Recover(game_, nullptr, message), R::Ok);
    EXPECT_EQ(TakeSnapshot(game_), TakeSnapshot(dir_ / "new"));
}

// A stale backup that is a hard link to someone's read-only file: clearing the
// attribute would clear theirs, so the patch is refused and theirs stays.
TEST_F(PatchW32Applier, AHardLinkToAReadOnlyFileIsNotMadeWritable) {
    WriteFile(dir_ / "theirs", "theirs");
    ASSERT_TRUE(SetFileAttributesW((dir_ / "theirs").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkW((game_ / "Game.exe.mrlpatch-old").c_str(),
                                (dir_ / "theirs").c_str(), nullptr));
    EXPECT_EQ(PatchApplier().Apply(patch_, game_), R::WriteFailed);
    EXPECT_TRUE(Attributes(dir_ / "theirs") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ReadFile(game_ / "Game.exe"), "old");
    SetFileAttributesW((dir_ / "theirs").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
