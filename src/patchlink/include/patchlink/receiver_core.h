// The download receiver's decisions, without I/O: it is fed what the
// connection delivered (and the tick), and answers with the actions its
// shell (PatchReceiver's thread) performs in order on the run variables, the
// patch-server list, the patch file, the dialog and the connection. It owns
// no socket, thread, file or window and never reads the clock.
//
// What it makes of the patch server's bytes:
// - The greeting is the single byte of the connection's first read. Any
//   other read while the answer is awaited is gathered (at most 2500 bytes)
//   until the answer is complete (see PatchAnswer); bytes after it are not
//   used. An answer that cannot fit 2500 bytes is malformed and ends the
//   download incomplete.
// - A refusal lists its alternatives, in order, before it raises any flag;
//   reasons 1 (no valid patch) and 2 (server full) mark it failed.
// - A patch header needs free space for half as much again as the file
//   (else kNoSpace, and the exchange stands still) and a name that Windows
//   takes as a plain file in the current directory (IsSafeWindowsName; else
//   the download ends incomplete and no file is touched). A name ending in "t" or "x" (any
//   case), or a local file longer than announced, is fetched whole from 0;
//   any other file resumes at the local file's size. In a signed-only install
//   a name ending in "e", "t" or "x" is fetched from 0 and dropped: no file
//   of that name is touched.
// - File data is written up to the announced size and no further; the file
//   completes when it holds that size. Repaints come when more than 250 ms
//   have passed since the last one, and once more when the download stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "patchlink/patch_answer.h"

struct ReceiverAction {
    enum Kind {
        kGreeting,    // the step is answered
        kListServer,  // append {port, text} to the patch-server list
        kRefusal,     // versions 0; `value` the reason; `failed`: refused for good
        kHeader,      // versions `value`, patchFileSize `size`
        kNoSpace,     // the drive lacks room: the view shows it
        kStartFile,   // patch file `text`, deleted first when `whole`, opened for appending
                      // (with `drop`, left alone: the file's bytes are dropped);
                      // the resume offset `value` goes to the server
        kWrite,       // append `data`/`length` (unless dropped); `value` bytes are then received
        kRepaint,     // lastSendTick `value`, repaint the dialog
        kComplete,    // close the file: the step is complete
        kDone,        // close any file; the receiver stops
        kAcknowledge  // the empty send after file data
    };
    Kind kind = kDone;
    uint32_t value = 0;
    uint32_t size = 0;
    uint16_t port = 0;
    bool failed = false;
    bool whole = false;
    bool drop = false;
    std::string text;
    const uint8_t* data = nullptr;  // into the bytes fed, valid until the next call
    size_t length = 0;
};

// What the shell looks up when a patch header arrives.
class ReceiverFacts {
public:
    // Free bytes on the drive of the current directory; false when unknown.
    virtual bool FreeBytes(uint64_t* bytes) = 0;
    // Size of the file `name` in the current directory; 0 when there is none.
    virtual uint64_t LocalFileSize(const std::string& name) = 0;
    // True when only signed patches may change the install (the patch
    // library holds trusted keys).
    virtual bool SignedOnly() = 0;

protected:
    ~ReceiverFacts() = default;
};

class ReceiverCore {
public:
    static constexpr uint32_t kRepaintIntervalMs = 250;

    // `lastRepaintTick`: the tick of the last repaint (lastSendTick).
    ReceiverCore(ReceiverFacts& facts, uint32_t lastRepaintTick);

    // One read of `size` bytes at tick `now`. The actions stay valid until
    // the next call.
    const std::vector<ReceiverAction>& Feed(const uint8_t* data, size_t size, uint32_t now);
    // The patch file could not be opened, written or closed: the download
    // ends incomplete.
    const std::vector<ReceiverAction>& FileFailed(uint32_t now);

    bool Done() const { return state_ == State::kDone; }

private:
    enum class State { kAwaitingAnswer, kReceivingData, kDone };

    ReceiverFacts& facts_;
    State state_ = State::kAwaitingAnswer;
    bool greeted_ = false;
    std::vector<uint8_t> answer_;  // an answer gathered so far
    uint32_t fileSize_ = 0;
    uint32_t received_ = 0;
    uint32_t lastRepaint_;
    std::vector<ReceiverAction> actions_;

    void FeedAnswer(const uint8_t* data, size_t size, uint32_t now);
    void OnRefusal(const PatchAnswer& answer, uint32_t now);
    void OnHeader(const PatchAnswer& answer, uint32_t now);
    void FeedData(const uint8_t* data, size_t size, uint32_t now);
    void Stop(bool complete, uint32_t now);
    void Add(ReceiverAction::Kind kind, uint32_t value = 0);
};
