#include "ui/dialogs/progress_dialog.h"

ProgressDialog::ProgressDialog(uint16_t templateId_, CommandHandler onCancel_)
    : templateId(templateId_), onCancel(onCancel_) {}

bool ProgressDialog::StartThread(uint32_t (*threadProcedure)(void*)) {
    {
        // A new start forgets the end request of the previous one.
        platform::CriticalSectionGuard guard(lock);
        endRequested = false;
    }
    return platform::StartDetachedThread(threadProcedure, nullptr);
}

INT_PTR ProgressDialog::RunOnThisThread() {
    WndDialog* current;
    {
        platform::CriticalSectionGuard guard(lock);
        dialog = new WndDialog(templateId, nullptr);
        dialog->AddCommand(2, onCancel);           // the "Cancel" button, and Escape
        if (endRequested) dialog->End(endResult);  // remembered by the registry until the box opens
        current = dialog;
    }
    return current->Run(DialogProc);
}

void ProgressDialog::End(int32_t result) {
    platform::CriticalSectionGuard guard(lock);
    // The driver may end the dialog before its thread has even built it.
    endRequested = true;
    endResult = result;
    if (dialog) dialog->End(result);
}

WndDialog* ProgressDialog::Dialog() {
    platform::CriticalSectionGuard guard(lock);
    return dialog;
}
