// The install check: every file that "Security.Chk" lists must exist, have
// its listed size and not be in use. Findings are warnings for the player;
// they never stop the update.
#pragma once

#include <windows.h>

constexpr const char* kInstallListFile = "Security.Chk";
constexpr const char* kWarningCaption = "Warning";

// Exact texts of the two findings that do not come from the text table.
constexpr const char* kFileInUseFormat =
    "Your file %s is currenlty used by another program or by the operating system himself. "
    "If you have another copy of MRL open, please close it. If you don't have any other copy "
    "of MRL open, you won't have any problem to play the game but you won't be able to "
    "patch.\r\n";
constexpr const char* kFileMissingFormat = "Your file %s is missing.\r\n";

// Runs the check over "Security.Chk" of the current directory, showing one
// box per bad entry, owned by `owner`. False when the list itself cannot be
// opened (its box has been shown; the caller ends the run).
bool RunInstallCheck(HWND owner);
