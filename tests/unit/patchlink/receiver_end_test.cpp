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
#include <chrono>
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

// A patch server's listening socket on loopback; its port, 0 when it fails.
uint16_t Listen(int* listener) {
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

bool ConnectTo(StreamConnection& connection, uint16_t port) {
    connection.SetHost("127.0.0.1");
    connection.SetPort(port);
    connection.SetSocketType(1);
    connection.SetWaitModes(true, true);
    return port != 0 && connection.Connect() == 1;
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
    StreamConnection connection;
    if (!ConnectTo(connection, Listen(&listener))) return;
    close(accept(listener, nullptr, nullptr));  // the server closes at once

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

// The driver ends a step early while the server, after its greeting, says
// nothing: the blocked read is woken, the thread joined, and the stop is no
// network failure.
TEST(PatchReceiver, AnEarlyStopWakesTheBlockedReadAndIsNoNetworkFailure) {
    int listener = -1;
    StreamConnection connection;
    ASSERT_TRUE(ConnectTo(connection, Listen(&listener)));
    const int silent = accept(listener, nullptr, nullptr);
    run::downloadStep.Begin();
    QuietView view;
    PatchReceiver receiver(connection, view);
    ASSERT_TRUE(receiver.Start());
    const char greeting = 1;
    ASSERT_EQ(send(silent, &greeting, 1, 0), 1);
    for (int waited = 0; !run::downloadStep.Answered() && waited < 5000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(run::downloadStep.Answered());
    // Time to enter the next read, which only the stop can end.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    receiver.Stop();
    EXPECT_TRUE(run::downloadStep.IsStopped());
    EXPECT_FALSE(run::downloadStep.NetworkFailed());
    connection.Close();
    close(silent);
    close(listener);
}

}  // namespace
