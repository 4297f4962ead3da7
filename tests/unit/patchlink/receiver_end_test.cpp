// The one way a run ends, at the lowest layer that shows it: the connection
// fails under the receiver while a dialog paints with the text table. The
// receiver only reports it; the driver's side ends the run with 233, and no
// global is torn down under the painting thread (TSan reports one that is,
// which turns the exit status into its own).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "driver/run_decisions.h"
#include "patchlink/patch_receiver.h"
#include "patchlink/stream_connection.h"
#include "platform/process_end.h"
#include "run/download_state.h"
#include "text/language_file.h"

namespace {

// Natively nothing shows the step.
class QuietView : public ReceiverView {
public:
    void ShowProgress() override {}
    void ShowShortOfSpace() override {}
};

// A patch server that accepts the connection and closes it at once.
uint16_t AcceptAndClose(int* listener) {
    *listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(*listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(*listener, 1) != 0 ||
        getsockname(*listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Runs in the death test's child: returns only when the receiver did not
// report the failure as a result.
void FailTheConnectionWhileADialogPaints() {
    std::atomic<bool> painting{false};
    std::thread painter([&painting] {
        for (;;) {
            GetLanguageText(85);
            painting = true;
        }
    });
    painter.detach();
    while (!painting) std::this_thread::yield();

    int listener = -1;
    const uint16_t port = AcceptAndClose(&listener);
    StreamConnection connection;
    connection.SetHost("127.0.0.1");
    connection.SetPort(port);
    connection.SetSocketType(1);
    connection.SetWaitModes(true, true);
    if (port == 0 || connection.Connect() != 1) return;
    close(accept(listener, nullptr, nullptr));

    QuietView view;
    PatchReceiver receiver(connection, view);
    if (!receiver.Start()) return;
    receiver.Join();
    if (!run::downloadStep.NetworkFailed() || !run::downloadStep.IsStopped()) return;
    platform::Terminate(EndOf(RunEnd::kNetworkFailure).exitCode);
}

TEST(RunEnd, ANetworkFailureOnTheReceiverEndsTheRunWith233WhileADialogPaints) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FailTheConnectionWhileADialogPaints(), ::testing::ExitedWithCode(233), "");
}

}  // namespace
