// Opens one of the updater's dialogs on its own and prints what it left in
// the run globals, so that tests can drive the dialog with the UI robot:
//
//   dialog_host server [--address TEXT] [--proxy 0|1] [--locked 0|1] [--showings N]
//       Texts 78..82 come from Language.Txt of the current directory, the
//       servers from ServerList.Txt, as in the updater. After each showing:
//       "address=", "proxy=", "proxyAddress=", "link=", "description=" lines.
//   dialog_host searching|patching [--end-after MS] [--end-first]
//       Starts the dialog's thread as the driver does; --end-first ends it
//       before its box can exist, --end-after MS ends it from the main
//       thread after MS milliseconds. Prints "closed" when the dialog's
//       thread has ended and exits 0 (Cancel and Escape exit 234 instead).
//   dialog_host record TEXT
//       Appends TEXT and a line end to "opened.log" of the current directory:
//       registered as the shell's "open" command, it records what the link
//       button opened.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/download_state.h"
#include "run/patch_server_list.h"
#include "run/server_choice.h"
#include "resources/dialog_127_ids.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/language_file.h"
#include "ui/startup_texts.h"

namespace {

struct Options {
    std::string mode;
    const char* address = nullptr;
    int proxy = 0;
    int locked = 0;
    int showings = 1;
    int endAfterMs = -1;
    bool endFirst = false;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    if (argc < 2) return false;
    options->mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--end-first") {
            options->endFirst = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (name == "--address")
            options->address = value;
        else if (name == "--proxy")
            options->proxy = std::atoi(value);
        else if (name == "--locked")
            options->locked = std::atoi(value);
        else if (name == "--showings")
            options->showings = std::atoi(value);
        else if (name == "--end-after")
            options->endAfterMs = std::atoi(value);
        else
            return false;
    }
    return true;
}

void CopyCut(char* destination, const char* source, size_t size) {
    std::snprintf(destination, size, "%s", source);
}

int RunServerDialog(const Options& options) {
    OpenLanguageFile();
    for (int i = 0; i < kStartupTextCount; ++i)
        CopyCut(startupTexts[i], GetLanguageText(kFirstStartupText + i), kStartupTextSize);
    if (options.address) CopyCut(run::gameServerAddress, options.address, run::kAddressSize);
    run::proxyEnabled = options.proxy;
    run::serverChoiceLocked = options.locked;

    for (int showing = 0; showing < options.showings; ++showing) {
        INT_PTR result =
            ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SERVER_DIALOG),
                              nullptr, ServerDialogProc, 0);
        std::printf("result=%d\naddress=%s\nproxy=%d\nproxyAddress=%s\nlink=%s\ndescription=%s\n",
                    static_cast<int>(result), run::gameServerAddress, run::proxyEnabled,
                    run::proxyAddress, linkTargetText, startupTexts[kServerDescriptionText]);
        std::fflush(stdout);
    }
    return 0;
}

std::atomic<bool> threadEnded{false};
ProgressDialog* shownDialog = nullptr;
uint32_t (*shownThread)(void*) = nullptr;

uint32_t HostThread(void*) {
    uint32_t result = shownThread(nullptr);
    threadEnded.store(true);
    return result;
}

int RunProgressDialog(const Options& options) {
    bool searching = options.mode == "searching";
    shownDialog = searching ? &searchingDialog : &patchingDialog;
    shownThread = searching ? SearchingDialogThread : PatchingDialogThread;
    if (!shownDialog->StartThread(HostThread)) return 3;
    if (options.endFirst) shownDialog->End(0);
    DWORD start = ::GetTickCount();
    bool ended = false;
    while (!threadEnded.load()) {
        ::Sleep(10);
        DWORD elapsed = ::GetTickCount() - start;
        if (!ended && options.endAfterMs >= 0 && elapsed >= DWORD(options.endAfterMs)) {
            shownDialog->End(0);
            ended = true;
        }
        if (elapsed > 120000) return 4;  // nobody closed it
    }
    std::printf("closed\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int RecordOpened(const char* text) {
    FILE* log = std::fopen("opened.log", "ab");
    if (!log) return 5;
    std::fprintf(log, "%s\n", text);
    std::fclose(log);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "record") return RecordOpened(argv[2]);
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: dialog_host server|searching|patching [options]\n");
        return 2;
    }
    if (options.mode == "server") return RunServerDialog(options);
    if (options.mode == "searching" || options.mode == "patching")
        return RunProgressDialog(options);
    std::fprintf(stderr, "unknown mode %s\n", options.mode.c_str());
    return 2;
}
