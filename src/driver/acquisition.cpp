#include "driver/acquisition.h"

#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "driver/app_info.h"
#include "driver/application.h"
#include "driver/run_decisions.h"
#include "driver/run_end.h"
#include "driver/run_state.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "platform/debug.h"
#include "platform/sync.h"
#include "platform/time.h"
#include "ui/dialogs/connecting_dialog.h"
#include "ui/dialogs/dialog_threads.h"

namespace {

constexpr uint32_t kGreetingPollMs = 100;

// A failed start of Windows Sockets or a name that does not resolve ends
// the run (RunEnd::kNetworkFailure); a refused connection does not.
bool ConnectTo(const Endpoint& target) {
    patchConnection.SetHost(target.host.c_str());
    patchConnection.SetPort(target.port);
    patchConnection.SetSocketType(1);
    patchConnection.SetWaitModes(true, true);
    const int connected = patchConnection.Connect();
    if (connected < 0) EndRun(RunEnd::kNetworkFailure);
    return connected != 0;
}

// The receiver stopped on a failed read or a closed connection: the run
// ends here, on the main thread.
void EndOnNetworkFailure() {
    if (run::networkFailed.load() != 0) EndRun(RunEnd::kNetworkFailure);
}

// The first connection, through the proxy when the player has one.
void ConnectFirst() {
    platform::OutputDebugStringA("Passer le Serveur!");
    run::doneFlag = 0;
    const std::optional<Endpoint> proxy =
        FirstConnectionProxy(run::proxyEnabled, run::proxyAddress);
    std::unique_ptr<PatchServerEntry> connected;
    {
        platform::CriticalSectionGuard hold(run::ServerListLock);
        connected = ConnectToListed(
            run::patchServerList, proxy,
            [&proxy](const PatchServerEntry& entry, const Endpoint& to) {
                if (proxy) platform::OutputDebugStringA("LOGGIN ON PROXY!");
                platform::OutputDebugStringA("Trying to connect on server ");
                platform::OutputDebugStringA(proxy ? run::proxyAddress : entry.host.c_str());
                platform::OutputDebugStringA("\r\n");
                return ConnectTo(to);
            });
    }
    run::doneFlag = connected ? 1 : 0;
    if (!connected) {
        platform::OutputDebugStringA("No Server in list\r\n");
        EndRun(RunEnd::kNoPatchServer);
    }
    run::rememberedServer = *connected;
}

// The server refused right after the connection: the next listed server
// (alternatives named by the refusal included) takes over. False when the
// run should end normally instead of going on with the next step.
bool FallBack() {
    platform::OutputDebugStringA("Trying to find another Server\r\n");
    patchConnection.Close();
    platform::OutputDebugStringA("Step 1\r\n");
    run::doneFlag = 0;
    bool connected = false;
    {
        platform::CriticalSectionGuard hold(run::ServerListLock);
        connected = ConnectToListed(run::patchServerList, std::nullopt,
                                    [](const PatchServerEntry& entry, const Endpoint& to) {
                                        platform::DebugPrintf("%s : %d\r\n", entry.host.c_str(),
                                                              int(entry.port));
                                        return ConnectTo(to);
                                    }) != nullptr;
    }
    run::doneFlag = connected ? 1 : 0;
    platform::OutputDebugStringA("Step 2\r\n");
    if (!FallbackAllowed(connected, run::fallbackCount)) EndRun(RunEnd::kNoPatchServer);
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

// Waits for the patch server's greeting; false when it refused.
bool WaitForGreeting() {
    for (;;) {
        switch (
            GreetingState(run::downloadReady != 0, run::downloadFailed != 0, run::doneFlag != 0)) {
            case Greeting::kGreeted:
                return true;
            case Greeting::kRefused:
                EndOnNetworkFailure();
                // The receiver appends a refusal's alternatives before it
                // ends; the fallback must see all of them.
                WaitForPreviousReceiver();
                return false;
            case Greeting::kWaiting:
                platform::Sleep(kGreetingPollMs);
                break;
        }
    }
}

}  // namespace

ExitCode FetchPatches() {
    ConnectFirst();

    int steps = 0;
    StepFailures failures;
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
            ConnectTo({run::rememberedServer.host, run::rememberedServer.port});
        }
        run::downloadComplete = 0;
        run::receiveState = 1;
        searchingDialog.End(0);
        platform::StartDetachedThread(PatchReceiverThread, nullptr);

        if (!WaitForGreeting()) {
            if (!FallBack()) return ExitCode::kNormalEnd;
            continue;
        }
        SendVersionRequest();
        DialogBoxParamA(appInfo->GetInstance(), MAKEINTRESOURCEA(108), appInfo->GetMainWindow(),
                        ConnectingDialogProc, 0);
        EndOnNetworkFailure();
        if (!run::downloadComplete) return ExitCode::kNormalEnd;

        const uint32_t before = run::installedVersion;
        ApplyDownloadedFile();
        ++steps;
        if (failures.Count(before, run::installedVersion)) {
            platform::DebugPrintf("Patch for version %u failed %d times, giving up\r\n",
                                  unsigned(before), StepFailures::kLimit);
            EndRun(RunEnd::kStepKeepsFailing);
        }
        run::downloadComplete = 1;
        run::downloadReady = 0;
        run::downloadFailed = 0;
    }
    return ExitCode::kNormalEnd;
}
