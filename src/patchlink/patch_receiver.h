// The download receiver: the thread that reads everything a patch server
// sends on patchConnection (greeting, answer, file data), writes or resumes
// the patch file in the current directory and reports through the run
// variables. The driver starts one per update step.
//
// How it treats what the server sends:
// - The greeting is the single byte of the connection's first read. Any
//   other read while the answer is awaited is gathered (at most 2500 bytes)
//   until the answer is complete (see PatchAnswer); bytes after it are not
//   used. An answer that cannot fit 2500 bytes is malformed.
// - A malformed answer, a file name that is not a plain file name, a patch
//   file that cannot be opened or written: nothing (more) is written, and
//   the download ends incomplete (doneFlag set, downloadComplete clear).
// - A refusal lists its alternatives before it raises any flag.
// - A local file longer than announced is fetched again from 0; bytes past
//   the announced size are not written.
// - Whenever it stops it asks dialogWindow for a repaint, so that a
//   connecting dialog that is up closes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "patchlink/patch_answer.h"

// Thread procedure (no argument used). Ends at once when a receiver already
// runs; otherwise runs passes until doneFlag is set. receiverRunning is set
// for exactly as long as it runs, so that a driver waiting for the greeting
// can tell that the receiver stopped without one.
uint32_t PatchReceiverThread(void* unused);

class PatchReceiver {
public:
    PatchReceiver();
    ~PatchReceiver();
    PatchReceiver(const PatchReceiver&) = delete;
    PatchReceiver& operator=(const PatchReceiver&) = delete;

    // One pass: yield, complete or read once and handle what was read.
    void RunPass();

    static constexpr uint32_t kRepaintIntervalMs = 250;

private:
    std::unique_ptr<uint8_t[]> buffer_;
    size_t gathered_ = 0;   // bytes of an answer not yet complete
    bool greeted_ = false;  // the greeting byte arrived on this connection
    std::FILE* patchFile_ = nullptr;

    void HandleAnswerBytes(int n);
    void HandleAnswer(const PatchAnswer& answer);
    void HandleRefusal(const PatchAnswer& answer);
    void HandleHeader(const PatchAnswer& answer);
    bool EnoughDiskSpace(uint32_t fileSize);
    bool OpenPatchFile(const std::string& name, uint32_t fileSize);
    void HandleData(int n);
    void CompleteFile();
    void EndIncomplete(const char* why);
};
