// What one patch step shares between the driver (main thread), the download
// receiver (its own thread) and the dialogs that show the step. Every value
// has one writer at a time and is polled by the others; atomics keep that
// single-writer protocol free of data races.
//
// The step's flags are downloadStep (run/download_step.h). The other values:
// - workingVersion, patchTargetVersion: the version the step leads to. The
//   receiver writes both from the patch server's answer; the driver writes
//   workingVersion at the start of a run, per downgrade step and when a
//   file is rejected.
// - patchFileName (owned heap text or null), patchFileSize,
//   patchBytesReceived: the file of the step, written by the receiver, read
//   by the driver after the receiver stopped and by the connecting dialog
//   when it paints.
// - lastSendTick: the tick of the driver's last version question during the
//   discovery; during a download, of the receiver's last repaint.
// - dialogWindow: the dialog that shows the step, written by that dialog
//   when it opens (main thread); the receiver repaints it and writes its
//   status text into it.
// - signedOnly: the patch library holds trusted keys, so only signed patches
//   may change the install; written by the driver once at the start of a
//   run, before any download.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/system.h"
#include "run/download_step.h"

namespace run {

extern DownloadStep downloadStep;

extern std::atomic<uint32_t> workingVersion;
extern std::atomic<uint32_t> patchTargetVersion;

extern std::atomic<char*> patchFileName;
extern std::atomic<uint32_t> patchFileSize;
extern std::atomic<uint32_t> patchBytesReceived;

extern std::atomic<uint32_t> lastSendTick;
extern std::atomic<platform::WindowHandle> dialogWindow;

extern std::atomic<bool> signedOnly;

}  // namespace run
