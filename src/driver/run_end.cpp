#include "run_end.h"

#include <windows.h>

#include <string>

#include "app_info.h"
#include "run_state.h"
#include "platform/process_end.h"
#include "text/default_texts.h"
#include "ui/dialogs/dialog_threads.h"
#include "text/language_file.h"
#include "text/message_format.h"

void EndRun(RunEnd end) {
    const EndOfRun how = EndOf(end);
    if (how.closeSearching) run::searchingDialog.End(0);
    std::string text;
    if (end == RunEnd::kDowngradeFailed) {
        // The one format among the ends: the version the server asked for.
        text = FormatMessageText(GetLanguageText(how.textNumber),
                                 GetDefaultLanguageText(how.textNumber), "u", run::serverVersion);
    } else if (how.textNumber != 0) {
        text = GetLanguageText(how.textNumber);
    } else if (how.literal) {
        text = how.literal;
    }
    if (how.textNumber != 0 || how.literal)
        ::MessageBoxA(run::appInfo->GetMainWindow(), text.c_str(), "Error Message",
                      MB_OK | MB_ICONSTOP);
    CloseLanguageFile();
    platform::Terminate(how.exitCode);
}
