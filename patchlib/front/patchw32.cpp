// PATCHW32.dll: the updater's entry to the patch library, exported by ordinal
// only: ordinal 1 applies a patch, ordinal 2 tells whether keys are built in,
// ordinal 3 settles what an earlier application left.
// The updater calls it with "<patch file> -u", a null pointer and 1, and
// takes 0 as "applied"; every other value means the tree was left as it was
// (or, for 7, that restoring it failed and backups were kept). A library built
// with trusted keys applies only patches one of them signed (9 otherwise).
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>

#include "apply/apply_journal.h"
#include "apply/patch_applier.h"
#include "patch_command.h"
#include "trusted_keys.h"

namespace {

// The updater's strings are in the ANSI code page; the library works in wide
// paths, so the conversion is made here, explicitly.
std::filesystem::path FromAnsi(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return std::filesystem::path();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return std::filesystem::path(wide);
}

void Trace(const std::string& text) {
    std::string line = "PATCHW32: " + text + "\r\n";
    OutputDebugStringA(line.c_str());
}

}  // namespace

// flags: bit 0 set means the caller shows its own progress (the updater passes
// 1); the library has no user interface either way, so it is accepted and
// otherwise unused. reserved must be null.
extern "C" int WINAPI MrlApplyPatch(const char* commandLine, void* reserved, int flags) {
    using patchlib::PatchResult;
    (void)flags;
    try {
        patchlib::PatchCommand command;
        if (reserved != nullptr || !patchlib::PatchCommandParser::Parse(commandLine, command)) {
            Trace("bad command line");
            return static_cast<int>(PatchResult::BadCommandLine);
        }
        std::string message;
        patchlib::ApplyOptions options;
        options.trustedKeys = patchlib::TrustedKeys();
        patchlib::PatchApplier applier(std::move(options));
        // The patch names files relative to the current directory, as the updater runs there.
        PatchResult result =
            applier.Apply(FromAnsi(command.patchFile), std::filesystem::path(L"."), &message);
        Trace(command.patchFile + ": " +
              (result == PatchResult::Ok ? std::string("applied") : message));
        return static_cast<int>(result);
    } catch (...) {
        // Nothing may unwind into the caller, which is not C++ aware.
        return static_cast<int>(PatchResult::Internal);
    }
}

// 1 when the library holds trusted keys, 0 when it applies unsigned patches.
// The updater asks once: a keyed library means that only what a trusted key
// signed may change the install, so it starts no served program and keeps no
// served data file. A library without this export counts as key-less.
extern "C" int WINAPI MrlKeysBuiltIn(void) { return patchlib::TrustedKeys().empty() ? 0 : 1; }

// Finishes or undoes an application that was stopped, and removes the
// backups that were in use when one ended (the updater and this library,
// replaced while they ran), in the current directory; returns ordinal 1's
// codes (0: nothing left, or all settled). The updater calls it once a run,
// before it asks for a version: its previous run may have replaced it. A
// library without this export leaves that to its next application.
extern "C" int WINAPI MrlSettle(void) {
    try {
        std::string message;
        const patchlib::PatchResult result =
            patchlib::ApplyJournal::Recover(std::filesystem::path(L"."), nullptr, message);
        if (result != patchlib::PatchResult::Ok) Trace("settling: " + message);
        return static_cast<int>(result);
    } catch (...) {
        return static_cast<int>(patchlib::PatchResult::Internal);
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
