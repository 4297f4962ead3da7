// The server selection dialog (template 127): the player confirms or changes
// the game server and the proxy before the game server is asked. Runs on the
// main thread as a modal dialog owned by the main window:
//
//     DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SERVER_DIALOG), mainWindow,
//                     ServerDialogProc, 0);
//
// What it shows and keeps is decided by serverDialogModel
// (ui/server_dialog_model.h); this procedure carries it to the controls.
// Connect ends it with result 0; Cancel and Escape end the process
// (ExitCode::kNotPatched).
#pragma once

#include <windows.h>

// Returns 0 for every message: the dialog manager does the rest.
INT_PTR CALLBACK ServerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
