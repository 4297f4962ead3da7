// Searching dialog: shown on a thread of its own while the game server is asked.
#pragma once

#define IDD_SEARCHING_DIALOG 123
// The dialog's only button; the dialog manager also sends it for Escape.
#define IDC_SEARCHING_CANCEL 2
