// The server selection dialog (template 127): the player confirms or changes
// the game server and the proxy before the game server is asked. Runs on the
// main thread as a modal dialog owned by the main window:
//
//     DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SERVER_DIALOG), mainWindow,
//                     ServerDialogProc, 0);
//
// It reads and writes run::gameServerAddress, run::proxyEnabled,
// run::proxyAddress and run::dialogWindow, reads run::serverChoiceLocked and
// texts 78..82 (startupTexts; the last one is the description buffer).
// Connect ends it with result 0; Cancel and Escape end the process with exit
// code 234.
#pragma once

#include <windows.h>

constexpr int kShownDescriptionSize = 500;
constexpr int kLinkTargetSize = 100;

// The description buffer's value at the last repaint; starts empty.
extern char shownDescription[kShownDescriptionSize];
// What the link button opens.
extern char linkTargetText[kLinkTargetSize];

// Returns 0 for every message: the dialog manager does the rest.
INT_PTR CALLBACK ServerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
