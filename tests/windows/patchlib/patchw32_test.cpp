// PATCHW32.dll loaded with LoadLibraryA and called by ordinal 1 from inside
// the game directory, as the updater calls it: "<file> -u", null, 1.
#include <windows.h>

#include <gtest/gtest.h>

#include "crypto/key_file.h"
#include "builder/patch_builder.h"
#include "patch_kit.h"

namespace {

using namespace patchtest;

using Apply = int(WINAPI*)(const char*, void*, int);

using KeysBuiltIn = int(WINAPI*)();

// A PATCHW32.dll under this suite's folder.
HMODULE LoadLibraryAt(const wchar_t* relative) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    HMODULE library = LoadLibraryW((fs::path(self).parent_path() / relative).c_str());
    EXPECT_NE(library, nullptr) << GetLastError();
    for (const char* name : {"MrlApplyPatch", "MrlKeysBuiltIn"})
        EXPECT_EQ(GetProcAddress(library, name), nullptr) << name;  // by ordinal only
    return library;
}

template <typename Fn>
Fn Ordinal(HMODULE library, int ordinal) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
}

Apply Load(const wchar_t* relative) { return Ordinal<Apply>(LoadLibraryAt(relative), 1); }

// Ordinal 2: whether the library holds trusted keys.
TEST(PatchW32, OrdinalTwoTellsWhetherKeysAreBuiltIn) {
    for (auto [relative, expected] : {std::pair{L"PATCHW32.dll", 0}, {L"keyed\\PATCHW32.dll", 1}}) {
        KeysBuiltIn keysBuiltIn = Ordinal<KeysBuiltIn>(LoadLibraryAt(relative), 2);
        ASSERT_NE(keysBuiltIn, nullptr);
        EXPECT_EQ(keysBuiltIn(), expected) << expected;
    }
}

TEST(PatchW32, AppliesByOrdinalOneOnlyWhatItCanApplyWhole) {
    Apply apply = Load(L"PATCHW32.dll");
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

// Patches over deflate streams that the native mkpatch made (a zlib stream;
// a zip with its header fields recoded): this library's zlib deflates the
// streams to the same bytes, which the rebuilt file's SHA-256 shows.
TEST(PatchW32, AppliesANativePatchOverDeflateStreams) {
    Apply apply = Load(L"PATCHW32.dll");
    ASSERT_NE(apply, nullptr);
    for (const char* seed : {"upgrade-streams.mrl", "upgrade-zip.mrl"}) {
        SCOPED_TRACE(seed);
        TempDir dir;
        WriteFuzzTree(dir / "game");
        fs::copy(fs::path(PATCH_SEEDS) / seed, dir / "streams.rtp");
        ASSERT_TRUE(SetCurrentDirectoryW((dir / "game").c_str()));
        EXPECT_EQ(apply("..\\streams.rtp -u", nullptr, 1), 0);
        SetCurrentDirectoryW(dir.path.c_str());
        EXPECT_TRUE(ReadFile(dir / "game/pack.z") == FuzzPack(true) ||
                    ReadFile(dir / "game/shop.zip") != FuzzZip());
    }
}

// Built with the test key, it applies what that key signed and leaves the
// tree untouched for anything else (result 9).
TEST(PatchW32, BuiltWithAKeyAppliesOnlyWhatThatKeySigned) {
    Apply apply = Load(L"keyed\\PATCHW32.dll");
    ASSERT_NE(apply, nullptr);
    TempDir dir;
    WriteFile(dir / "old/Game.exe", "old");
    WriteFile(dir / "new/Game.exe", "new");
    CopyTree(dir / "old", dir / "game");
    const patchlib::KeyPair key = patchlib::KeyFile::ReadPrivate(TEST_KEY);
    patchlib::BuildOptions signing;
    signing.signingKey = &key;
    patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "game/signed", signing);
    patchlib::PatchBuilder::Build(dir / "old", dir / "new", dir / "game/unsigned");
    std::string tampered = ReadFile(dir / "game/signed");
    tampered.back() ^= 1;
    WriteFile(dir / "game/tampered", tampered);
    ASSERT_TRUE(SetCurrentDirectoryW((dir / "game").c_str()));
    for (const char* line : {"unsigned -u", "tampered -u"})
        EXPECT_EQ(apply(line, nullptr, 1), 9) << line;
    EXPECT_EQ(ReadFile("Game.exe"), "old");
    EXPECT_EQ(apply("signed -u", nullptr, 1), 0);
    EXPECT_EQ(ReadFile("Game.exe"), "new");
    SetCurrentDirectoryW(dir.path.c_str());
}

}  // namespace
