#include "ui/dialogs/dialog_threads.h"

#include <windows.h>

#include "platform/process_end.h"
#include "resources/dialog_123_ids.h"
#include "resources/dialog_124_ids.h"

ProgressDialog run::searchingDialog(IDD_SEARCHING_DIALOG, OnSearchingCancel);
ProgressDialog run::patchingDialog(IDD_PATCHING_DIALOG, OnPatchingCancel);

uint32_t SearchingDialogThread(void* start) {
    run::searchingDialog.RunOnThisThread(start);
    return 1;
}

uint32_t PatchingDialogThread(void* start) {
    run::patchingDialog.RunOnThisThread(start);
    return 1;
}

// The process ends from the dialog's thread while the main thread may be in
// the middle of its work: Terminate tears nothing down under it.
void OnSearchingCancel() {
    run::searchingDialog.End(0);
    platform::Terminate(ExitCode::kNotPatched);
}

void OnPatchingCancel() {
    run::patchingDialog.End(0);
    platform::Terminate(ExitCode::kNotPatched);
}
