// The two progress dialogs and their threads. The driver starts a dialog
// with StartThread on its global object and ends it with End(0):
//
//     run::searchingDialog.StartThread(SearchingDialogThread);
//     ...
//     run::searchingDialog.End(0);
//
// Cancel (or Escape) in either dialog ends the process (ExitCode::kNotPatched);
// the title bar's close box only closes the dialog.
#pragma once

#include <cstdint>

#include "ui/dialogs/progress_dialog.h"

namespace run {

// Template 123, "Now looking for a patch server. Please wait....".
extern ProgressDialog searchingDialog;
// Template 124, "Currently patching. ...".
extern ProgressDialog patchingDialog;

}  // namespace run

// Thread procedures: run the dialog of the start given (see
// ProgressDialog::RunOnThisThread) until it ends; thread result 1.
uint32_t SearchingDialogThread(void* start);
uint32_t PatchingDialogThread(void* start);

// Cancel handlers: end the dialog, then the process (ExitCode::kNotPatched).
void OnSearchingCancel();
void OnPatchingCancel();
