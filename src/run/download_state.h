// What one patch step shares between the driver (main thread), the download
// receiver (its own thread) and the dialogs that show the step. Every value
// has one writer at a time and is polled by the others; atomics keep that
// single-writer protocol free of data races.
//
// Rules, value by value:
// - doneFlag: the step is over. Cleared by the driver before it starts a
//   receiver (and around connection loops, where it holds "connected");
//   set by the receiver when it stops for any reason. The connecting
//   dialog closes at the first paint that sees it.
// - downloadReady: the patch server spoke (greeting or refusal). Set by the
//   receiver, cleared by the driver between steps.
// - downloadFailed: the patch server refused (reasons 1 and 2). Set by the
//   receiver before downloadReady, cleared by the driver between steps.
// - downloadComplete: the whole file is on disk. Set by the receiver before
//   doneFlag, so that whoever sees doneFlag sees it too; the driver clears
//   it before a step and sets it after a fallback.
// - receiveState: 1 awaiting the answer (set by the driver before it starts
//   the receiver), 2 receiving file data (set by the receiver).
// - receiverRunning: set by a receiver for exactly as long as it runs.
// - networkFailed: the receiver stopped on a failed read or a closed
//   connection. Set by it before doneFlag; the driver then ends the run.
// - shortOfSpace: the drive lacks room for the step's patch file, so the
//   step stands still until the player postpones it. Cleared by each
//   receiver when it starts (before it reads, so before the driver can open
//   the connecting dialog), set by it when the patch header asks for more
//   room than there is. The connecting dialog shows text 183 in place of the
//   progress line while it is set, also when it opens after the header came.
// - workingVersion, patchTargetVersion: the version the step leads to. The
//   receiver writes both from the patch server's answer; the driver writes
//   workingVersion at the start of a run, per downgrade step and when a
//   file is rejected.
// - patchFileName (owned heap text or null), patchFileSize,
//   patchBytesReceived: the file of the step, written by the receiver, read
//   by the driver after doneFlag and by the connecting dialog when it paints.
// - lastSendTick: the tick of the driver's last version question during the
//   discovery; during a download, of the receiver's last repaint.
// - dialogWindow: the dialog that shows the step, written by that dialog
//   when it opens (main thread); the receiver repaints it and writes its
//   status text into it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/system.h"

namespace run {

extern std::atomic<int32_t> doneFlag;
extern std::atomic<int32_t> downloadReady;
extern std::atomic<int32_t> downloadFailed;
extern std::atomic<int32_t> downloadComplete;
extern std::atomic<uint8_t> receiveState;
extern std::atomic<int32_t> receiverRunning;
extern std::atomic<int32_t> networkFailed;
extern std::atomic<int32_t> shortOfSpace;

extern std::atomic<uint32_t> workingVersion;
extern std::atomic<uint32_t> patchTargetVersion;

extern std::atomic<char*> patchFileName;
extern std::atomic<uint32_t> patchFileSize;
extern std::atomic<uint32_t> patchBytesReceived;

extern std::atomic<uint32_t> lastSendTick;
extern std::atomic<platform::WindowHandle> dialogWindow;

}  // namespace run
