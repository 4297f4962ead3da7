// The connecting dialog (template 108): shows "Connecting to Server...."
// until the patch header is in, then the progress line, and closes itself
// at the first paint after the download receiver stopped. Its only way
// out for the user is "Postpone patch", which ends the program (ExitCode::kNotPatched).
#pragma once

#include <windows.h>

#include "patchlink/receiver_view.h"

INT_PTR CALLBACK ConnectingDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The download receiver's view: repaints the open dialog, and writes text
// text_number::kPostpone into its status line when the drive lacks room.
ReceiverView& ConnectingDialogView();
