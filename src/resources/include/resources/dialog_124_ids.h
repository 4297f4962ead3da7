// Patching dialog: shown on a thread of its own while a patch is applied.
#pragma once

#define IDD_PATCHING_DIALOG 124
// The dialog's only button; the dialog manager also sends it for Escape.
#define IDC_PATCHING_CANCEL 2
