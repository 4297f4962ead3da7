#include "discovery.h"

#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "app_info.h"
#include "application.h"
#include "acquisition.h"
#include "driver/run_decisions.h"
#include "run_end.h"
#include "run_state.h"
#include "driver/server_answer.h"
#include "gamelink/game_link.h"
#include "packet/kvn_packet.h"
#include "packet/random_generator.h"
#include "platform/debug.h"
#include "platform/time.h"
#include "resources/dialog_127_ids.h"
#include "settings/reg_key_handler.h"
#include "settings/registry_names.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/dialogs/server_dialog.h"
#include "text/language_file.h"
#include "text/text_numbers.h"
#include "text/server_table.h"

namespace {

constexpr uint32_t kPollMs = 15;

// The updater's one link to the game server, used by the main thread only.
GameLink gameLink;
constexpr const char* kNoChoice = "Not Found";

void CopyCut(char* target, int size, const char* source) {
    std::snprintf(target, size_t(size), "%s", source ? source : "");
}

void ShowServerSelection() {
    DialogBoxParamA(run::appInfo->GetInstance(), MAKEINTRESOURCEA(IDD_SERVER_DIALOG),
                    run::appInfo->GetMainWindow(), ServerDialogProc, 0);
}

void SendVersionQuestion() {
    KVNPacket request;
    request << kVersionQuestionId;
    gameLink.Send(&request);
}

void TakeAnswer(ServerAnswer& answer) {
    run::serverVersion = answer.version;
    for (auto& entry : answer.servers) run::patchServerList.Append(std::move(entry));
}

// One attempt: opens the link to the chosen server and asks until it
// answers or sixteen requests are out. True when it answered in time.
bool AttemptToReachServer() {
    gameLink.Shutdown();

    char alternative[run::kAddressSize];
    const ServerRecord* record = FindServerRecord(run::gameServerAddress);
    CopyCut(alternative, sizeof alternative, record ? record->address : run::gameServerAddress);
    run::settings.WriteProfileStringA(registry_name::kTriedGameServer, alternative);

    const Endpoint server = SplitAddress(alternative, kGameServerPort);
    gameLink.SetHost(server.host.c_str());
    gameLink.SetPort(server.port);
    // An address without a host part cannot be reached: like a name that
    // does not resolve, one request still goes out and the wait ends.
    VersionQuestions questions(!server.host.empty() && gameLink.Init());

    while (!questions.Over()) {
        platform::Sleep(kPollMs);
        const uint32_t now = platform::TimeGetTime();
        if (questions.RequestDue(now, run::lastSendTick)) {
            run::lastSendTick = now;
            SendVersionQuestion();
        }
        KVNPacket* message = nullptr;
        if (gameLink.GetNextMessage(&message)) {
            std::unique_ptr<KVNPacket> owned(message);
            if (std::optional<ServerAnswer> answer = ReadServerAnswer(*owned)) {
                TakeAnswer(*answer);
                questions.AnswerRead();
            }
        }
    }
    return questions.Answered();
}

// The game server did not answer: tell the player, then either give up
// ("Keeper's Word") or let the player choose again.
void HandleUnreachableServer() {
    run::searchingDialog.End(0);
    MessageBoxA(run::appInfo->GetMainWindow(), GetLanguageText(text_number::kGameServerSilent),
                "Error Message", MB_OK | MB_ICONSTOP);
    if (auto end = EndWhenUnreachable(run::settings.GetProfileIntA(registry_name::kKeepersWord, 0)))
        EndRun(*end);
    ShowServerSelection();
    run::settings.WriteProfileStringA(registry_name::kGameServer, run::gameServerAddress);
}

}  // namespace

void ChooseGameServer() {
    run::proxyEnabled = int32_t(run::settings.GetProfileIntA(registry_name::kProxy, 0));
    CopyCut(run::gameServerAddress, sizeof run::gameServerAddress,
            run::settings.GetProfileStringA(registry_name::kGameServer, kNoChoice, nullptr));

    if (std::strcmp(run::gameServerAddress, kNoChoice) == 0) {
        int count = LoadServerList();
        if (count >= 0) {
            // For an empty list the range is empty and the draw yields slot 0.
            RandomGenerator draw(0, uint32_t(count) - 1, platform::TimeGetTime());
            uint32_t slot = draw.Next();
            if (slot < uint32_t(kServerSlots))
                CopyCut(run::gameServerAddress, sizeof run::gameServerAddress,
                        run::serverTable.slots[slot].name);
        }
    }
    if (run::settings.GetProfileIntA(registry_name::kProxyValue, 0) != 0)
        run::serverChoiceLocked = 1;

    if (run::silentMode) {
        // No dialog loads the list: a name stored by an earlier run must
        // still find its listed address.
        LoadServerList();
    } else {
        ShowServerSelection();
        run::settings.WriteProfileStringA(registry_name::kGameServer, run::gameServerAddress);
        run::settings.WriteProfileInt(registry_name::kProxy, uint32_t(run::proxyEnabled));
    }
    run::searchingDialog.StartThread(SearchingDialogThread);
}

ExitCode DiscoverAndDecide() {
    for (;;) {
        const bool answered = AttemptToReachServer();

        const uint32_t installed =
            run::settings.GetProfileIntA(registry_name::kVersion, kNoVersion);
        run::installedVersion = installed;
        run::workingVersion = installed;
        if (installed != kNoVersion)
            platform::DebugPrintf("Update [%d] Current [%d]\r\n", int(run::serverVersion),
                                  int(installed));

        switch (DecideAfterAttempt(answered, run::serverVersion, installed)) {
            case AfterAttempt::kVersionUnknown:
                return ExitCode::kNormalEnd;
            case AfterAttempt::kDowngrade:
                return RunDowngrade();
            case AfterAttempt::kUnreachable:
                HandleUnreachableServer();
                break;
            case AfterAttempt::kUpToDate:
                EndRun(RunEnd::kUpToDate);
            case AfterAttempt::kFetch:
                return FetchPatches();
        }
    }
}
