#include "ui/dialogs/dialog_threads.h"

#include <windows.h>

#include "resources/dialog_123_ids.h"
#include "resources/dialog_124_ids.h"

ProgressDialog searchingDialog(IDD_SEARCHING_DIALOG, OnSearchingCancel);
ProgressDialog patchingDialog(IDD_PATCHING_DIALOG, OnPatchingCancel);

uint32_t SearchingDialogThread(void* start) {
    searchingDialog.RunOnThisThread(start);
    return 1;
}

uint32_t PatchingDialogThread(void* start) {
    patchingDialog.RunOnThisThread(start);
    return 1;
}

// The process ends from the dialog's thread while the main thread may be in
// the middle of its work: ExitProcess stops the other threads before anything
// is torn down, where the runtime's exit would destroy globals under them.
void OnSearchingCancel() {
    searchingDialog.End(0);
    ::ExitProcess(kCancelExitCode);
}

void OnPatchingCancel() {
    patchingDialog.End(0);
    ::ExitProcess(kCancelExitCode);
}
