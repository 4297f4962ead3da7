#include "driver/discovery.h"

#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/app_info.h"
#include "driver/application.h"
#include "driver/acquisition.h"
#include "driver/exits.h"
#include "driver/run_state.h"
#include "gamelink/game_link.h"
#include "packet/kvn_packet.h"
#include "packet/kvn_packet_exception.h"
#include "packet/random_generator.h"
#include "platform/debug.h"
#include "platform/time.h"
#include "settings/reg_key_handler.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/language_file.h"
#include "ui/server_table.h"

namespace {

constexpr uint16_t kGameServerPort = 11677;
constexpr uint8_t kLastTry = 15;  // the sixteenth request ends the wait
constexpr uint32_t kRequestIntervalMs = 1000;
constexpr uint32_t kPollMs = 15;
constexpr int16_t kVersionQuestion = 65;

bool serverListLoaded = false;

void CopyCut(char* target, int size, const char* source) {
    std::snprintf(target, size_t(size), "%s", source ? source : "");
}

void ShowServerSelection() {
    DialogBoxParamA(appInfo->GetInstance(), MAKEINTRESOURCEA(127), appInfo->GetMainWindow(),
                    ServerDialogProc, 0);
}

void SendVersionQuestion() {
    KVNPacket request;
    request << kVersionQuestion;
    gameLink.Send(&request);
}

// One attempt: opens the link to the chosen server and asks until it
// answers or sixteen requests are out. Returns the retry count.
uint8_t AttemptToReachServer(uint8_t retries) {
    gameLink.Shutdown();

    // A name stored by an earlier run is looked up in the server list even
    // when no dialog has loaded it in this run (silent mode).
    if (!serverListLoaded) serverListLoaded = LoadServerList() >= 0;

    char alternative[run::kAddressSize];
    const ServerRecord* record = FindServerRecord(run::gameServerAddress);
    CopyCut(alternative, sizeof alternative, record ? record->address : run::gameServerAddress);
    settings.WriteProfileStringA("MRLServerIP2", alternative);

    char host[run::kAddressSize];
    uint16_t port = 0;
    SplitAddress(alternative, kGameServerPort, host, sizeof host, &port);
    gameLink.SetHost(host);
    gameLink.SetPort(port);
    // An address without a host part cannot be reached: like a name that
    // does not resolve, one request still goes out and the wait ends.
    if (host[0] == '\0' || !gameLink.Init(OnDatagram)) retries = kLastTry;

    while (!run::doneFlag) {
        platform::Sleep(kPollMs);
        uint32_t now = platform::TimeGetTime();
        if (platform::TickDiff(now, run::lastSendTick) > kRequestIntervalMs) {
            ++retries;
            if (retries > kLastTry) run::doneFlag = 1;
            run::lastSendTick = now;
            SendVersionQuestion();
        }
        KVNPacket* message = nullptr;
        if (gameLink.GetNextMessage(&message)) {
            std::unique_ptr<KVNPacket> owned(message);
            if (ReadServerAnswer(*owned)) run::doneFlag = 1;
        }
    }
    return retries;
}

// The game server did not answer: tell the player, then either give up
// ("Keeper's Word") or let the player choose again.
void HandleUnreachableServer() {
    searchingDialog.End(0);
    MessageBoxA(appInfo->GetMainWindow(), GetLanguageText(51), "Error Message",
                MB_OK | MB_ICONSTOP);
    if (settings.GetProfileIntA("Keeper's Word", 0) != 0) std::exit(kExitNotPatched);
    ShowServerSelection();
    settings.WriteProfileStringA("MRLServerIP", run::gameServerAddress);
}

}  // namespace

void SplitAddress(const char* address, uint16_t defaultPort, char* host, int hostSize,
                  uint16_t* port) {
    // Tokens as the address reads them: runs of text between colons.
    const char* start = address;
    while (*start == ':') ++start;
    const char* end = std::strchr(start, ':');
    size_t hostLength = end ? size_t(end - start) : std::strlen(start);
    if (hostLength >= size_t(hostSize)) hostLength = size_t(hostSize) - 1;
    std::memcpy(host, start, hostLength);
    host[hostLength] = '\0';

    *port = defaultPort;
    if (!end) return;
    const char* portText = end;
    while (*portText == ':') ++portText;
    if (*portText == '\0') return;
    *port = static_cast<uint16_t>(std::atoi(portText));
}

void ChooseGameServer() {
    run::proxyEnabled = int32_t(settings.GetProfileIntA("Proxy", 0));
    CopyCut(run::gameServerAddress, sizeof run::gameServerAddress,
            settings.GetProfileStringA("MRLServerIP", "Not Found", nullptr));

    if (std::strcmp(run::gameServerAddress, "Not Found") == 0) {
        int count = LoadServerList();
        if (count >= 0) {
            serverListLoaded = true;
            // For an empty list the range is empty and the draw yields slot 0.
            RandomGenerator draw(0, uint32_t(count) - 1, platform::TimeGetTime());
            uint32_t slot = draw.Next();
            if (slot < uint32_t(kServerSlots))
                CopyCut(run::gameServerAddress, sizeof run::gameServerAddress,
                        serverTable.slots[slot].name);
        }
    }
    if (settings.GetProfileIntA("Proxy Value", 0) != 0) run::serverChoiceLocked = 1;

    if (!run::silentMode) {
        ShowServerSelection();
        settings.WriteProfileStringA("MRLServerIP", run::gameServerAddress);
        settings.WriteProfileInt("Proxy", uint32_t(run::proxyEnabled));
    }
    searchingDialog.StartThread(SearchingDialogThread);
    run::doneFlag = 0;
}

int DiscoverAndDecide() {
    uint8_t retries = 0;
    for (;;) {
        retries = AttemptToReachServer(retries);

        uint32_t installed = settings.GetProfileIntA("Version", kNoVersion);
        run::installedVersion = installed;
        run::workingVersion = installed;
        if (installed == kNoVersion) return kNormalEnd;
        uint32_t server = run::serverVersion;
        platform::DebugPrintf("Update [%d] Current [%d]\r\n", int(server), int(installed));

        bool answered = retries <= kLastTry;
        if (answered && server < installed) return RunDowngrade();
        if (!answered) {
            HandleUnreachableServer();
            retries = 0;
            run::doneFlag = 0;
            continue;
        }
        if (server == installed) {
            CloseLanguageFile();
            std::exit(kExitUpToDate);
        }
        return FetchPatches();
    }
}

bool ReadServerAnswer(KVNPacket& packet) {
    std::vector<std::unique_ptr<PatchServerEntry>> entries;
    unsigned long version = 0;  // the packet's 32-bit field
    try {
        packet.Seek(0, 0);
        int16_t id = 0;
        packet.Get(&id);
        if (id != kVersionQuestion) return false;
        platform::OutputDebugStringA("Case 65\r\n");
        packet.Get(&version);
        uint16_t count = 0;
        packet.Get(&count);
        platform::DebugPrintf("Nombre de Server [%d]\r\n", int(count));
        for (uint32_t i = 0; i < count; ++i) {
            auto entry = std::make_unique<PatchServerEntry>();
            int16_t length = 0;
            packet.Get(&entry->port);
            packet.Get(&length);
            if (length < 0) throw new KVNPacketException(1);
            entry->host.reserve(size_t(length));
            for (int16_t c = 0; c < length; ++c) {
                char letter = 0;
                packet.Get(&letter);
                entry->host.push_back(letter);
            }
            entries.push_back(std::move(entry));
        }
    } catch (KVNPacketException* shortAnswer) {
        // An answer cut short (or with a negative name length) is dropped
        // whole: a half list of servers would send the player to the wrong
        // place, and the next request brings the answer again.
        delete shortAnswer;
        platform::OutputDebugStringA("Answer too short, dropped\r\n");
        return false;
    }
    run::serverVersion = uint32_t(version);
    for (auto& entry : entries) {
        platform::CriticalSectionGuard hold(run::ServerListLock);
        run::patchServerList.Append(std::move(entry));
    }
    return true;
}
