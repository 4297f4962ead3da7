// PATCHW32.dll loaded with LoadLibraryA and called by ordinal 1 from inside
// the game directory, as the updater calls it: "<file> -u", null, 1.
#include <windows.h>

#include <gtest/gtest.h>

#include "patch_builder.h"
#include "patch_kit.h"

namespace {

using namespace patchtest;

TEST(PatchW32, AppliesByOrdinalOneOnlyWhatItCanApplyWhole) {
    HMODULE library = LoadLibraryA("PATCHW32.dll");
    ASSERT_NE(library, nullptr) << GetLastError();
    EXPECT_EQ(GetProcAddress(library, "MrlApplyPatch"), nullptr);  // by ordinal only
    auto apply = reinterpret_cast<int(WINAPI*)(const char*, void*, int)>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    ASSERT_NE(apply, nullptr);
    TempDir dir;
    WriteFile(dir / "old/Mirelands.exe", Program(true, Code(1, 30000), Data(2, 900)));
    WriteFile(dir / "new/Mirelands.exe", Program(true, Code(3, 90) + Code(1, 30000), Data(2, 900)));
    patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "p");
    for (const char* tree : {"old", "new"}) fs::copy(dir / "p", dir / tree / "12to11 step.rtp");
    CopyTree(dir / "old", dir / "game");
    ASSERT_TRUE(SetCurrentDirectoryW((dir / "game").c_str()));
    // The game still running holds its program open for reading only.
    HANDLE held = CreateFileA("Mirelands.exe", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(apply("\"12to11 step.rtp\" -u", nullptr, 1), 0);
    CloseHandle(held);
    for (const char* line : {"12to11 step.rtp", "missing.rtp -u", ""})
        EXPECT_NE(apply(line, nullptr, 1), 0);
    EXPECT_NE(apply("12to11 step.rtp -u", &held, 1), 0);  // the reserved argument must be null
    EXPECT_EQ(TakeSnapshot(dir / "game"), TakeSnapshot(dir / "old"));
    EXPECT_EQ(apply("\"12to11 step.rtp\" -u", nullptr, 1), 0);
    EXPECT_EQ(TakeSnapshot(dir / "game"), TakeSnapshot(dir / "new"));
    SetCurrentDirectoryW(dir.path.c_str());
}

}  // namespace
