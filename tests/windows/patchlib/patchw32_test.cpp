// Loads PATCHW32.dll with LoadLibraryA, takes ordinal 1 with GetProcAddress
// and calls it from inside the game directory with "<file> -u", a null
// pointer and 1, on patches built here with the library's own builder.
#include <windows.h>

#include <gtest/gtest.h>

#include "patch_builder.h"
#include "tree_fixture.h"

namespace {

namespace fs = std::filesystem;
using patchtest::TakeSnapshot;
using patchtest::TempDir;
using patchtest::WriteFile;

typedef int(WINAPI* PatchEntryPoint)(const char* commandLine, void* reserved, int flags);

const char kPatchName[] = "12to11 step.rtp";  // blanks, as a name may have

class PatchW32 : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = LoadLibraryA("PATCHW32.dll");
        ASSERT_NE(library_, nullptr) << GetLastError();
        // Through a generic function type: FARPROC carries no signature.
        entry_ = reinterpret_cast<PatchEntryPoint>(
            reinterpret_cast<void (*)()>(GetProcAddress(library_, MAKEINTRESOURCEA(1))));
        ASSERT_NE(entry_, nullptr);

        std::string data = patchtest::GameData(5, 300000);
        WriteFile(dir_ / "old/Mirelands.exe", data);
        WriteFile(dir_ / "new/Mirelands.exe", data.substr(0, 1000) + "patched" + data.substr(2000));
        WriteFile(dir_ / "old/maps/north.map", patchtest::Noise(1, 5000));
        WriteFile(dir_ / "new/maps/north.map", patchtest::Noise(1, 4000) + "edited");
        WriteFile(dir_ / "old/Version.Txt", "12");
        WriteFile(dir_ / "new/Version.Txt", "11");
        WriteFile(dir_ / "new/maps/south.map", "added");
        patchtest::CopyTree(dir_ / "old", work_);
        patchlib::PatchBuilder::Build(dir_ / "old", dir_ / "new", work_ / kPatchName);

        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof(cwd), cwd);
        savedDirectory_ = cwd;
        ASSERT_TRUE(SetCurrentDirectoryA(work_.string().c_str()));
    }

    void TearDown() override {
        SetCurrentDirectoryA(savedDirectory_.c_str());
        if (library_) FreeLibrary(library_);
    }

    // The tree without the patch file lying in it.
    patchtest::Snapshot Tree() {
        patchtest::Snapshot snapshot = TakeSnapshot(work_);
        snapshot.erase(kPatchName);
        return snapshot;
    }

    int Call(const std::string& commandLine) { return entry_(commandLine.c_str(), nullptr, 1); }

    TempDir dir_;
    fs::path work_ = dir_ / "game";
    HMODULE library_ = nullptr;
    PatchEntryPoint entry_ = nullptr;
    std::string savedDirectory_;
};

TEST_F(PatchW32, AppliesAPatchByOrdinalOneToTheCurrentDirectory) {
    EXPECT_EQ(Call(std::string(kPatchName) + " -u"), 0);
    EXPECT_EQ(Tree(), TakeSnapshot(dir_ / "new"));
    // The updater calls a second time only after a failure; a repeat still succeeds.
    EXPECT_EQ(Call(std::string(kPatchName) + " -u"), 0);
    EXPECT_EQ(Tree(), TakeSnapshot(dir_ / "new"));
}

TEST_F(PatchW32, ExportsNothingByName) {
    EXPECT_EQ(GetProcAddress(library_, "MrlApplyPatch"), nullptr);
    EXPECT_EQ(GetProcAddress(library_, MAKEINTRESOURCEA(2)), nullptr);
}

TEST_F(PatchW32, AModifiedInstallIsLeftAsItWas) {
    WriteFile(work_ / "maps/north.map", "the player's own map");
    patchtest::Snapshot before = Tree();
    EXPECT_NE(Call(std::string(kPatchName) + " -u"), 0);
    EXPECT_EQ(Tree(), before);
}

// The game still running holds its files open for reading only.
TEST_F(PatchW32, AFileInUseFailsTheWholePatchAndChangesNothing) {
    patchtest::Snapshot before = Tree();
    HANDLE held = CreateFileA("Mirelands.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    int result = Call(std::string(kPatchName) + " -u");
    CloseHandle(held);
    EXPECT_NE(result, 0);
    EXPECT_EQ(Tree(), before);
    EXPECT_EQ(Call(std::string(kPatchName) + " -u"), 0);
    EXPECT_EQ(Tree(), TakeSnapshot(dir_ / "new"));
}

TEST_F(PatchW32, ADamagedOrMissingPatchOrABadCommandLineFails) {
    patchtest::Snapshot before = Tree();
    std::string bytes = patchtest::ReadFile(work_ / kPatchName);
    bytes[bytes.size() / 2] ^= 0x10;
    WriteFile(work_ / "damaged.rtp", bytes);
    EXPECT_NE(Call("damaged.rtp -u"), 0);
    EXPECT_NE(Call("missing.rtp -u"), 0);
    EXPECT_NE(Call(kPatchName), 0);
    EXPECT_NE(Call(""), 0);
    EXPECT_NE(entry_(nullptr, nullptr, 1), 0);
    fs::remove(work_ / "damaged.rtp");
    EXPECT_EQ(Tree(), before);
}

}  // namespace
