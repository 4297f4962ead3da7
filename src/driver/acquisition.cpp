#include "driver/acquisition.h"

#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/app_info.h"
#include "driver/application.h"
#include "driver/discovery.h"
#include "driver/exits.h"
#include "driver/run_state.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "platform/debug.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "ui/dialogs/connecting_dialog.h"
#include "ui/dialogs/dialog_threads.h"
#include "ui/language_file.h"

namespace {

constexpr uint16_t kProxyPort = 11679;
constexpr uint32_t kGreetingPollMs = 100;
constexpr int32_t kMaxFallbacks = 10;  // the eleventh is the last one allowed
constexpr int kMaxAttemptsPerStep = 3;

// The server the first connection reached; later steps reconnect to it.
std::string rememberedHost;
uint16_t rememberedPort = 0;

int ConnectTo(const char* host, uint16_t port) {
    patchConnection.SetHost(host);
    patchConnection.SetPort(port);
    patchConnection.SetSocketType(1);
    patchConnection.SetWaitModes(true, true);
    return patchConnection.Connect();
}

[[noreturn]] void NoPatchServer() {
    searchingDialog.End(0);
    MessageBoxA(appInfo->GetMainWindow(), GetLanguageText(85), "Error Message",
                MB_OK | MB_ICONSTOP);
    CloseLanguageFile();
    std::exit(kExitNoPatchServer);
}

// Takes the next listed server, or none once a connection has been made.
std::unique_ptr<PatchServerEntry> NextServer() {
    if (run::doneFlag) return nullptr;
    return run::patchServerList.Take();
}

void ConnectFirst() {
    platform::OutputDebugStringA("Passer le Serveur!");
    run::doneFlag = 0;
    platform::CriticalSectionGuard hold(run::ServerListLock);
    // The proxy stands in for every listed server: one attempt per entry.
    // Without a proxy address (silent mode never asks for one) the listed
    // servers are reached directly.
    bool viaProxy = run::proxyEnabled != 0 && run::proxyAddress[0] != '\0';
    while (auto entry = NextServer()) {
        if (viaProxy) {
            platform::OutputDebugStringA("LOGGIN ON PROXY!");
            platform::OutputDebugStringA("Trying to connect on server ");
            platform::OutputDebugStringA(run::proxyAddress);
            platform::OutputDebugStringA("\r\n");
            char host[run::kAddressSize];
            uint16_t port = 0;
            SplitAddress(run::proxyAddress, kProxyPort, host, sizeof host, &port);
            patchConnection.SetHost(host);
            patchConnection.SetPort(port);
        } else {
            platform::OutputDebugStringA("Trying to connect on server ");
            platform::OutputDebugStringA(entry->host.c_str());
            platform::OutputDebugStringA("\r\n");
            patchConnection.SetHost(entry->host.c_str());
            patchConnection.SetPort(entry->port);
        }
        patchConnection.SetSocketType(1);
        patchConnection.SetWaitModes(true, true);
        rememberedHost = entry->host;
        rememberedPort = entry->port;
        run::doneFlag = patchConnection.Connect();
    }
}

// The server refused right after the connection: try the next listed
// server (alternatives named by the refusal included). False when the run
// should end normally instead of going on with the next step.
bool FallBack() {
    platform::OutputDebugStringA("Trying to find another Server\r\n");
    patchConnection.Close();
    platform::OutputDebugStringA("Step 1\r\n");
    run::doneFlag = 0;
    {
        platform::CriticalSectionGuard hold(run::ServerListLock);
        while (auto entry = NextServer()) {
            platform::DebugPrintf("%s : %d\r\n", entry->host.c_str(), int(entry->port));
            run::doneFlag = ConnectTo(entry->host.c_str(), entry->port);
        }
    }
    platform::OutputDebugStringA("Step 2\r\n");
    if (!run::doneFlag || run::fallbackCount > kMaxFallbacks) NoPatchServer();
    platform::OutputDebugStringA("Step 3\r\n");
    run::doneFlag = 0;
    run::fallbackCount += 1;
    run::downloadComplete = 1;
    run::downloadReady = 0;
    run::downloadFailed = 0;
    return run::workingVersion < run::serverVersion;
}

// A receiver still finishing the previous step would make the new one step
// aside at once; let it end first. It ends as soon as it sees doneFlag,
// which it set itself; the bound only keeps a stuck one from hanging us.
void WaitForPreviousReceiver() {
    for (int waited = 0; run::receiverRunning && waited < 5000; waited += 10) platform::Sleep(10);
}

void SendVersionRequest() {
    uint32_t version = run::installedVersion;
    const unsigned char request[4] = {uint8_t(version >> 24), uint8_t(version >> 16),
                                      uint8_t(version >> 8), uint8_t(version)};
    SendToPatchServer(request, 4);
}

// Waits for the patch server's greeting or refusal. False when the server
// refused, or when the receiver stopped without either (a refusal without a
// reason, a malformed answer): that counts as a refusal too.
bool WaitForGreeting() {
    for (;;) {
        if (run::downloadReady && !run::downloadFailed) return true;
        if (run::downloadFailed || run::doneFlag) {
            // The receiver appends a refusal's alternatives before it ends;
            // the fallback must see all of them.
            WaitForPreviousReceiver();
            return false;
        }
        platform::Sleep(kGreetingPollMs);
    }
}

// A file the library rejects (or a patch program that will not start) is
// fetched again; a step that fails this often in a row will not succeed in
// this run: the install does not match the patch, or the server's file is
// bad. Going on would download the same file for ever.
[[noreturn]] void GiveUpOnStep() {
    platform::DebugPrintf("Patch for version %u failed %d times, giving up\r\n",
                          unsigned(run::installedVersion.load()), kMaxAttemptsPerStep);
    patchConnection.Close();
    CloseLanguageFile();
    std::exit(kExitNotPatched);
}

}  // namespace

int FetchPatches() {
    ConnectFirst();
    if (!run::doneFlag) {
        platform::OutputDebugStringA("No Server in list\r\n");
        NoPatchServer();
    }

    int steps = 0;
    int failedAttempts = 0;
    while (run::workingVersion < run::serverVersion) {
        // The receiver of the previous step loops while doneFlag is 0: it
        // must have ended before doneFlag is cleared, or it would carry on
        // reading the next connection (and the new receiver would step
        // aside), which happens when a step ends at once (a patch program
        // that cannot start).
        WaitForPreviousReceiver();
        run::doneFlag = 0;
        if (steps != 0) {
            patchConnection.Close();
            ConnectTo(rememberedHost.c_str(), rememberedPort);
        }
        run::downloadComplete = 0;
        run::receiveState = 1;
        searchingDialog.End(0);
        platform::StartDetachedThread(PatchReceiverThread, nullptr);

        if (!WaitForGreeting()) {
            if (!FallBack()) return kNormalEnd;
            continue;
        }
        SendVersionRequest();
        DialogBoxParamA(appInfo->GetInstance(), MAKEINTRESOURCEA(108), appInfo->GetMainWindow(),
                        ConnectingDialogProc, 0);
        if (!run::downloadComplete) return kNormalEnd;

        uint32_t before = run::installedVersion;
        ApplyDownloadedFile();
        ++steps;
        failedAttempts = run::installedVersion == before ? failedAttempts + 1 : 0;
        if (failedAttempts == kMaxAttemptsPerStep) GiveUpOnStep();
        run::downloadComplete = 1;
        run::downloadReady = 0;
        run::downloadFailed = 0;
    }
    return kNormalEnd;
}
