// The flags of one download step, shared by the driver (main thread), the
// download receiver (its own thread) and the connecting dialog. Each flag
// has one writer at a time and is polled by the others; each setter
// publishes in the order its readers rely on:
// - answered (the patch server spoke: greeting or refusal) and refused
//   (reasons 1 and 2): a refusal sets refused before answered, so a driver
//   that sees the answer sees the refusal too.
// - complete (the whole file is on disk) and networkFailed (the connection
//   failed under the receiver) are set before stopped, so whoever sees the
//   receiver stopped (the dialog, the driver) sees them too.
// - stopped: the receiver ended, for any reason; the connecting dialog
//   closes at the first paint that sees it. Cleared by the driver before it
//   starts the next receiver (the last one is joined by then).
// - shortOfSpace: the drive lacks room for the step's patch file, so the
//   step stands still until the player postpones it. Cleared by each
//   receiver when it starts (before it reads, so before the driver can open
//   the connecting dialog), set by it when the patch header asks for more
//   room than there is. The connecting dialog shows text_number::kPostpone in place of the
//   progress line while it is set, also when it opens after the header came.
#pragma once

#include <atomic>
#include <cstdint>

class DownloadStep {
public:
    // ---- The driver, while no receiver runs.
    // Before a receiver starts: nothing of the step is known yet.
    void Begin();
    // After a step or a fallback: the answer is forgotten and the step
    // counts as complete until the next Begin.
    void Settle();

    // ---- The receiver.
    void ReceiverStarted() { shortOfSpace_.store(0); }
    void Greeted() { answered_.store(1); }
    // `failed`: reasons 1 and 2, which make the driver fall back.
    void Refused(bool failed);
    void LacksSpace() { shortOfSpace_.store(1); }
    void Completed() { complete_.store(1); }
    // The last word of a receiver.
    void Stopped(bool networkFailure);

    // ---- Anyone.
    bool Answered() const { return answered_.load() != 0; }
    bool RefusedForGood() const { return refused_.load() != 0; }
    bool Complete() const { return complete_.load() != 0; }
    bool IsStopped() const { return stopped_.load() != 0; }
    bool NetworkFailed() const { return networkFailed_.load() != 0; }
    bool ShortOfSpace() const { return shortOfSpace_.load() != 0; }

private:
    std::atomic<int32_t> answered_{0};
    std::atomic<int32_t> refused_{0};
    std::atomic<int32_t> complete_{0};
    std::atomic<int32_t> stopped_{0};
    std::atomic<int32_t> networkFailed_{0};
    std::atomic<int32_t> shortOfSpace_{0};
};
