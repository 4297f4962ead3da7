#include "ui/dialogs/progress_dialog.h"

ProgressDialog::ProgressDialog(uint16_t templateId, CommandHandler onCancel)
    : templateId_(templateId), onCancel_(onCancel) {}

bool ProgressDialog::StartThread(uint32_t (*threadProcedure)(void*)) {
    uintptr_t number;
    {
        platform::CriticalSectionGuard guard(lock_);
        starts_.emplace_back();
        number = starts_.size();
    }
    return platform::StartDetachedThread(threadProcedure, reinterpret_cast<void*>(number));
}

INT_PTR ProgressDialog::RunOnThisThread(void* start) {
    WndDialog* current;
    {
        platform::CriticalSectionGuard guard(lock_);
        if (!start) starts_.emplace_back();
        const uintptr_t number = start ? reinterpret_cast<uintptr_t>(start) : starts_.size();
        if (number == 0 || number > starts_.size() || starts_[number - 1].dialog) return -1;
        Start& mine = starts_[number - 1];
        mine.dialog = new WndDialog(templateId_, nullptr);
        mine.dialog->AddCommand(2, onCancel_);  // the "Cancel" button, and Escape
        // The registry remembers the end until the box opens.
        if (mine.endRequested) mine.dialog->End(mine.endResult);
        current = mine.dialog;
    }
    return current->Run(DialogProc);
}

void ProgressDialog::End(int32_t result) {
    platform::CriticalSectionGuard guard(lock_);
    if (starts_.empty()) return;
    Start& latest = starts_.back();
    latest.endRequested = true;
    latest.endResult = result;
    if (latest.dialog) latest.dialog->End(result);
}
