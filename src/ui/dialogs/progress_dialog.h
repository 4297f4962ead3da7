// A progress dialog run on a thread of its own (searching, patching): the
// global object through which the driver starts the dialog's thread and
// later ends the dialog from the main thread.
#pragma once

#include <cstdint>

#include "platform/sync.h"
#include "ui/dialogs/wnd_dialog.h"

class ProgressDialog {
public:
    ProgressDialog(uint16_t templateId, CommandHandler onCancel);
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    // Driver: starts `threadProcedure` (SearchingDialogThread or
    // PatchingDialogThread) on a new thread. False when no thread could be
    // started.
    bool StartThread(uint32_t (*threadProcedure)(void*));

    // Thread procedure body: constructs the dialog again (new registry index,
    // new owner window and class), adds the Cancel command and runs the box
    // until it ends. An End that came before the dialog existed closes the
    // box as soon as it opens.
    INT_PTR RunOnThisThread();

    // Any thread: ends the dialog of the latest start with `result`.
    void End(int32_t result);

    // The dialog of the latest run, or none before the first.
    WndDialog* Dialog();

private:
    platform::CriticalSection lock;  // guards dialog and endRequested
    uint16_t templateId;
    CommandHandler onCancel;
    WndDialog* dialog = nullptr;  // never released, like every framework object
    bool endRequested = false;
    int32_t endResult = 0;
};
