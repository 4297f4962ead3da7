// One modal dialog box run on the calling thread, with button commands routed
// to registered handlers, that any thread can end.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/dialogs/dialog_registry.h"
#include "ui/dialogs/wnd.h"

class WndDialog {
public:
    // Registers a new dialog (a new index). Without an owner, an invisible
    // zero-size window of a fresh class is created on the calling thread to
    // own the box. A template id of 0 asks the user whether to go on; Cancel
    // throws std::invalid_argument.
    WndDialog(uint16_t templateId, Wnd* owner);

    void AddCommand(uint32_t commandId, CommandHandler handler);
    // Opens the box from template templateId on the calling thread and
    // returns its result when it ends (-1 when it could not be created).
    INT_PTR Run(DLGPROC procedure);
    // Ends the box from any thread. Before the box exists the request is
    // remembered and the box closes as soon as it opens.
    void End(int32_t result);

    Wnd* Owner() const { return owner_; }
    uint16_t TemplateId() const { return templateId_; }
    uint32_t Index() const { return index_; }

private:
    Wnd* owner_ = nullptr;
    uint16_t templateId_ = 0;
    uint32_t index_ = 0;
};

// The dialog procedure of every framework dialog: stores the box's window,
// dispatches commands to the registered handlers, ends the box on WM_CLOSE
// with result 1.
INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
