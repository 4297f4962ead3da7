#include "driver/application.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/app_info.h"
#include "driver/exits.h"
#include "ui/message_format.h"
#include "driver/patch_library.h"
#include "driver/run_state.h"
#include "platform/time.h"
#include "settings/reg_key_handler.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/default_texts.h"
#include "ui/language_file.h"

namespace {

constexpr int kMaxDowngradeSteps = 5;

// Starts a patch program by name; the run does not wait for it.
bool StartProgram(const char* name) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(name, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The patch library, given a second chance: 0 when either call applied it.
int ApplyWithLibrary(const std::string& fileName) {
    std::string commandLine = fileName + " -u";
    if (CallPatchLibrary(commandLine.c_str()) == 0) return 0;
    return CallPatchLibrary(commandLine.c_str());
}

void RecordVersion(uint32_t version) { settings.WriteProfileInt("Version", version); }

[[noreturn]] void DowngradeFailed() {
    std::string message = FormatMessageText(GetLanguageText(94), GetDefaultLanguageText(94), "u",
                                            run::serverVersion.load());
    searchingDialog.End(0);
    MessageBoxA(appInfo->GetMainWindow(), message.c_str(), "Error Message", MB_OK | MB_ICONSTOP);
    CloseLanguageFile();
    std::exit(kExitNotPatched);
}

}  // namespace

void ApplyDownloadedFile() {
    patchingDialog.StartThread(PatchingDialogThread);
    const char* received = run::patchFileName.load();
    std::string name = received ? received : "";
    char kind = name.empty() ? '\0' : char(std::tolower(static_cast<unsigned char>(name.back())));

    if (kind == 't' || kind == 'x') {
        // A replacement data file: on disk already, nothing to run.
        RecordVersion(run::patchTargetVersion);
        run::installedVersion = run::workingVersion.load();
        platform::Sleep(1000);
    } else if (kind == 'e') {
        // A patch program takes over the update; a program that cannot be
        // started is not recorded and the loop goes on.
        if (StartProgram(name.c_str())) {
            RecordVersion(run::workingVersion);
            std::exit(kExitNotPatched);
        }
    } else if (ApplyWithLibrary(name) == 0) {
        RecordVersion(run::patchTargetVersion);
        if (run::patchTargetVersion == run::serverVersion)
            ShellExecuteA(appInfo->GetMainWindow(), "open", "Release.Txt", nullptr, nullptr,
                          SW_SHOW);
        run::installedVersion = run::workingVersion.load();
    } else {
        // Rejected twice: drop the file so that the next step fetches it anew.
        run::workingVersion = run::installedVersion.load();
        DeleteFileA(name.c_str());
    }
    patchingDialog.End(0);
}

int RunDowngrade() {
    int steps = 0;
    while (run::serverVersion < run::workingVersion && steps < kMaxDowngradeSteps) {
        ++steps;
        uint32_t after = run::workingVersion - 1;
        uint32_t before = after + 1;
        run::workingVersion = after;
        patchingDialog.StartThread(PatchingDialogThread);

        char name[64];
        std::snprintf(name, sizeof name, "%uto%u.exe", before, after);
        if (StartProgram(name)) {
            RecordVersion(after);
            std::exit(kExitNotPatched);
        }
        std::snprintf(name, sizeof name, "%uto%u.rtp", before, after);
        if (ApplyWithLibrary(name) != 0) DowngradeFailed();
        RecordVersion(after);
        patchingDialog.End(0);
    }
    if (steps == kMaxDowngradeSteps) {
        MessageBoxA(appInfo->GetMainWindow(),
                    "An Error occured with the patch system, please close everything and run "
                    "MRL.EXE again.",
                    "Error Message", MB_OK | MB_ICONSTOP);
        std::exit(kExitDowngradeLimit);
    }
    return kNormalEnd;
}
