#include "acquisition.h"

#include <winsock2.h>  // before windows.h, which would bring the old winsock.h
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "app_info.h"
#include "application.h"
#include "driver/run_decisions.h"
#include "run_end.h"
#include "run_state.h"
#include "run/download_state.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "platform/debug.h"
#include "platform/time.h"
#include "resources/dialog_108_ids.h"
#include "ui/dialogs/connecting_dialog.h"
#include "ui/dialogs/dialog_threads.h"

namespace {

constexpr uint32_t kGreetingPollMs = 100;

// The connection to the patch server: the main thread's alone; a step's
// receiver reads from it until it is joined.
StreamConnection patchConnection;

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
    if (run::downloadStep.NetworkFailed()) EndRun(RunEnd::kNetworkFailure);
}

// The first connection, through the proxy when the player has one.
void ConnectFirst() {
    platform::OutputDebugStringA("Passer le Serveur!");
    const std::optional<Endpoint> proxy =
        FirstConnectionProxy(run::proxyEnabled, run::proxyAddress);
    std::unique_ptr<PatchServerEntry> connected = ConnectToListed(
        run::patchServerList, proxy, [&proxy](const PatchServerEntry& entry, const Endpoint& to) {
            if (proxy) platform::OutputDebugStringA("LOGGIN ON PROXY!");
            platform::OutputDebugStringA("Trying to connect on server ");
            platform::OutputDebugStringA(proxy ? run::proxyAddress : entry.host.c_str());
            platform::OutputDebugStringA("\r\n");
            return ConnectTo(to);
        });
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
    const bool connected =
        ConnectToListed(run::patchServerList, std::nullopt,
                        [](const PatchServerEntry& entry, const Endpoint& to) {
                            platform::DebugPrintf("%s : %d\r\n", entry.host.c_str(),
                                                  int(entry.port));
                            return ConnectTo(to);
                        }) != nullptr;
    platform::OutputDebugStringA("Step 2\r\n");
    if (!FallbackAllowed(connected, run::fallbackCount)) EndRun(RunEnd::kNoPatchServer);
    platform::OutputDebugStringA("Step 3\r\n");
    run::fallbackCount += 1;
    run::downloadStep.Settle();
    return run::workingVersion < run::serverVersion;
}

void SendVersionRequest() {
    uint32_t version = run::installedVersion;
    const unsigned char request[4] = {uint8_t(version >> 24), uint8_t(version >> 16),
                                      uint8_t(version >> 8), uint8_t(version)};
    patchConnection.Send(request, 4);
}

// Waits for the patch server's greeting; false when it refused (the
// receiver is joined then: it appends a refusal's alternatives before it
// ends, and the fallback must see all of them).
bool WaitForGreeting(PatchReceiver& receiver) {
    const DownloadStep& step = run::downloadStep;
    for (;;) {
        switch (GreetingState(step.Answered(), step.RefusedForGood(), step.IsStopped())) {
            case Greeting::kGreeted:
                return true;
            case Greeting::kRefused:
                receiver.Join();
                EndOnNetworkFailure();
                return false;
            case Greeting::kWaiting:
                platform::Sleep(kGreetingPollMs);
                break;
        }
    }
}

// The steps after the first connection; the connection is left open.
ExitCode FetchSteps() {
    int steps = 0;
    StepFailures failures;
    while (run::workingVersion < run::serverVersion) {
        if (steps != 0) {
            patchConnection.Close();
            ConnectTo({run::rememberedServer.host, run::rememberedServer.port});
        }
        run::downloadStep.Begin();
        run::searchingDialog.End(0);
        // Joined before this step ends, on every path that goes on.
        PatchReceiver receiver(patchConnection, ConnectingDialogView());
        receiver.Start();

        if (!WaitForGreeting(receiver)) {
            if (!FallBack()) return ExitCode::kNormalEnd;
            continue;
        }
        SendVersionRequest();
        DialogBoxParamA(run::appInfo->GetInstance(), MAKEINTRESOURCEA(IDD_CONNECTING),
                        run::appInfo->GetMainWindow(), ConnectingDialogProc, 0);
        // The dialog closed on the receiver's stop: the thread is ending.
        receiver.Join();
        EndOnNetworkFailure();
        if (!run::downloadStep.Complete()) return ExitCode::kNormalEnd;

        const uint32_t before = run::installedVersion;
        ApplyDownloadedFile();
        ++steps;
        if (failures.Count(before, run::installedVersion)) {
            platform::DebugPrintf("Patch for version %u failed %d times, giving up\r\n",
                                  unsigned(before), StepFailures::kLimit);
            patchConnection.Close();
            EndRun(RunEnd::kStepKeepsFailing);
        }
        run::downloadStep.Settle();
    }
    return ExitCode::kNormalEnd;
}

}  // namespace

ExitCode FetchPatches() {
    ConnectFirst();
    const ExitCode code = FetchSteps();
    // Closed in order: the process ends without destructors.
    patchConnection.Close();
    return code;
}
