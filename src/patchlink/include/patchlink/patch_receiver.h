// The download receiver: a thread that reads everything a patch server sends
// on the step's connection and performs what ReceiverCore decides on the
// run variables, the step's flags (run::downloadStep), the patch-server list,
// the patch file in the current directory and its view. A network failure
// is a result (DownloadStep::NetworkFailed): the driver ends the run. The
// driver starts one per update step and joins it before the next step, or
// before it closes the connection.
#pragma once

#include <atomic>

#include "patchlink/receiver_view.h"
#include "patchlink/stream_connection.h"
#include "platform/sync.h"

class PatchReceiver {
public:
    // `connection` is connected, and stays open until this receiver is
    // joined; `view` outlives it.
    PatchReceiver(StreamConnection& connection, ReceiverView& view);
    // Stops a receiver still running (see Stop).
    ~PatchReceiver();
    PatchReceiver(const PatchReceiver&) = delete;
    PatchReceiver& operator=(const PatchReceiver&) = delete;

    // Starts the thread; false when it could not start (the step's flags
    // then say the receiver stopped).
    bool Start();
    // Waits for a receiver that ends by itself: it ends right after it has
    // published the stop (run::downloadStep.IsStopped()).
    void Join();
    // Ends the step early: the thread is asked to stop, a read it is blocked
    // in is woken by shutting the connection down, and it is joined.
    void Stop();

private:
    static uint32_t ThreadMain(void* self);

    StreamConnection& connection_;
    ReceiverView& view_;
    std::atomic<bool> stopRequested_{false};
    platform::Thread thread_;
    bool started_ = false;  // started and not joined yet (the owner's alone)
};
