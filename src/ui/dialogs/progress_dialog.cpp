#include "ui/dialogs/progress_dialog.h"

ProgressDialog::ProgressDialog(uint16_t templateId_, CommandHandler onCancel_)
    : templateId(templateId_), onCancel(onCancel_) {}

bool ProgressDialog::StartThread(uint32_t (*threadProcedure)(void*)) {
    uintptr_t number;
    {
        platform::CriticalSectionGuard guard(lock);
        starts.emplace_back();
        number = starts.size();
    }
    return platform::StartDetachedThread(threadProcedure, reinterpret_cast<void*>(number));
}

INT_PTR ProgressDialog::RunOnThisThread(void* start) {
    WndDialog* current;
    {
        platform::CriticalSectionGuard guard(lock);
        if (!start) starts.emplace_back();
        const uintptr_t number = start ? reinterpret_cast<uintptr_t>(start) : starts.size();
        if (number == 0 || number > starts.size() || starts[number - 1].dialog) return -1;
        Start& mine = starts[number - 1];
        mine.dialog = new WndDialog(templateId, nullptr);
        mine.dialog->AddCommand(2, onCancel);  // the "Cancel" button, and Escape
        // The registry remembers the end until the box opens.
        if (mine.endRequested) mine.dialog->End(mine.endResult);
        current = mine.dialog;
    }
    return current->Run(DialogProc);
}

void ProgressDialog::End(int32_t result) {
    platform::CriticalSectionGuard guard(lock);
    if (starts.empty()) return;
    Start& latest = starts.back();
    latest.endRequested = true;
    latest.endResult = result;
    if (latest.dialog) latest.dialog->End(result);
}
