#include "patch_library.h"

#include <windows.h>

namespace {
using PatchEntry = int(WINAPI*)(const char* commandLine, void* reserved, int flags);
using NoArgumentEntry = int(WINAPI*)();
constexpr int kLibraryMissing = -1;
}  // namespace

int CallPatchLibrary(const char* commandLine) {
    HMODULE library = LoadLibraryA("PATCHW32.dll");
    if (!library) return kLibraryMissing;
    auto entry = reinterpret_cast<PatchEntry>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
    int result = entry ? entry(commandLine, nullptr, 1) : kLibraryMissing;
    FreeLibrary(library);
    return result;
}

bool PatchLibraryHoldsKeys() {
    HMODULE library = LoadLibraryA("PATCHW32.dll");
    if (!library) return false;
    auto entry = reinterpret_cast<NoArgumentEntry>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(2))));
    const bool keyed = entry && entry() != 0;
    FreeLibrary(library);
    return keyed;
}

int SettlePatchLibrary() {
    HMODULE library = LoadLibraryA("PATCHW32.dll");
    if (!library) return 0;
    auto entry = reinterpret_cast<NoArgumentEntry>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(3))));
    const int result = entry ? entry() : 0;
    FreeLibrary(library);
    return result;
}
