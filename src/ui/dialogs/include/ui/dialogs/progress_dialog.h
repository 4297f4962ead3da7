// A progress dialog run on a thread of its own (searching, patching): the
// global object through which the driver starts the dialog's thread and
// later ends the dialog from the main thread.
//
// Every start is numbered, and an end request belongs to the start it
// follows: when the driver starts the dialog again before the previous thread
// has built its box, the earlier End still closes the earlier box (as soon as
// it opens) and never the box of the later start.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sync.h"
#include "ui/dialogs/wnd_dialog.h"

class ProgressDialog {
public:
    ProgressDialog(uint16_t templateId, CommandHandler onCancel);
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    // Driver: a new start, whose number goes to `threadProcedure`
    // (SearchingDialogThread or PatchingDialogThread) as its argument on a
    // new thread. False when no thread could be started.
    bool StartThread(uint32_t (*threadProcedure)(void*));

    // Thread procedure body, given the thread's argument: constructs the
    // dialog of that start (new registry index, new owner window and class),
    // adds the Cancel command and runs the box until it ends. An End that
    // came before the dialog existed closes the box as soon as it opens. A
    // null argument (the procedure called directly, not through StartThread)
    // is a start of its own.
    INT_PTR RunOnThisThread(void* start);

    // Any thread: ends the dialog of the latest start with `result`, whether
    // its box exists yet or not. Nothing before the first start.
    void End(int32_t result);

private:
    struct Start {
        WndDialog* dialog = nullptr;  // never released, like every framework object
        bool endRequested = false;
        int32_t endResult = 0;
    };

    platform::CriticalSection lock_;  // guards starts
    uint16_t templateId_;
    CommandHandler onCancel_;
    std::vector<Start> starts_;  // start number n is starts[n - 1]
};
