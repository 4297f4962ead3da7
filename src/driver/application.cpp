#include "application.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "app_info.h"
#include "patch_library.h"
#include "driver/run_decisions.h"
#include "run_end.h"
#include "run_state.h"
#include "platform/debug.h"
#include "platform/time.h"
#include "settings/reg_key_handler.h"
#include "settings/registry_names.h"
#include "ui/dialogs/dialog_threads.h"

namespace {

// Starts a patch program by name; the run does not wait for it.
bool StartProgram(const std::string& name) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(name.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

int CallLibrary(const std::string& commandLine) { return CallPatchLibrary(commandLine.c_str()); }

void RecordVersion(uint32_t version) {
    run::settings.WriteProfileInt(registry_name::kVersion, version);
}

}  // namespace

void ApplyDownloadedFile() {
    run::patchingDialog.StartThread(PatchingDialogThread);
    const char* received = run::patchFileName.load();
    const std::string name = received ? received : "";
    const Handling handling = HandlingOf(KindOfFile(name), run::signedOnly.load());
    bool done = handling == Handling::kKeep;
    if (handling == Handling::kStart) done = StartProgram(name);
    if (handling == Handling::kApply) done = ApplyPatchFile(CallLibrary, name);
    if (handling == Handling::kRefuse)
        platform::DebugPrintf(
            "%s refused, its bytes dropped: the patch library takes signed patches only\r\n",
            name.c_str());

    const AfterApplying after = AfterApplication(
        handling, done,
        {run::serverVersion, run::installedVersion, run::workingVersion, run::patchTargetVersion});
    if (after.record) RecordVersion(*after.record);
    if (after.end) EndRun(*after.end);
    if (after.openReleaseNotes)
        ShellExecuteA(run::appInfo->GetMainWindow(), "open", "Release.Txt", nullptr, nullptr,
                      SW_SHOW);
    run::installedVersion = after.installed;
    run::workingVersion = after.working;
    if (handling == Handling::kKeep) platform::Sleep(1000);
    if (after.deleteFile) DeleteFileA(name.c_str());
    run::patchingDialog.End(0);
}

ExitCode RunDowngrade() {
    DowngradeActions actions;
    actions.beginStep = [] { run::patchingDialog.StartThread(PatchingDialogThread); };
    actions.endStep = [] { run::patchingDialog.End(0); };
    actions.startProgram = StartProgram;
    actions.library = CallLibrary;
    actions.record = RecordVersion;
    const RunEnd end = RunDowngradeSteps(run::serverVersion, run::installedVersion, actions);
    if (end != RunEnd::kNormal) EndRun(end);
    return ExitCode::kNormalEnd;
}
