// Opens one of the updater's dialogs on its own, in the current directory,
// for looking at it (scripts/screenshots.sh):
//
//   dialog_host server [--address TEXT] [--proxy 0|1]
//       The server selection dialog; texts 78..82 from Language.Txt and the
//       servers from ServerList.Txt, as in the updater.
//   dialog_host searching|patching
//       A progress dialog, run as its thread runs it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "resources/dialog_127_ids.h"
#include "run/server_choice.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/dialogs/server_dialog.h"
#include "text/language_file.h"
#include "text/startup_texts.h"

namespace {

int ShowServerDialog(int argc, char** argv) {
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--address")
            std::snprintf(run::gameServerAddress, run::kAddressSize, "%s", argv[i + 1]);
        else if (option == "--proxy")
            run::proxyEnabled = std::atoi(argv[i + 1]);
    }
    OpenLanguageFile();
    for (int i = 0; i < kStartupTextCount; ++i)
        std::snprintf(run::startupTexts[i], kStartupTextSize, "%s",
                      GetLanguageText(kFirstStartupText + i));
    ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SERVER_DIALOG), nullptr,
                      ServerDialogProc, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "server") return ShowServerDialog(argc, argv);
    if (mode == "searching") return int(SearchingDialogThread(nullptr)) - 1;
    if (mode == "patching") return int(PatchingDialogThread(nullptr)) - 1;
    std::fprintf(stderr, "usage: dialog_host server|searching|patching [options]\n");
    return 2;
}
