// Turns the new file's expanded form back into the file, as it streams
// through: plain bytes pass, each stream's content is deflated with its
// recorded parameters. A stream that deflates to another length than its
// record says is refused at once; any other difference shows in the new
// file's SHA-256, which the caller checks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "deflate/stream_records.h"

namespace patchlib {

class StreamRebuilder {
public:
    using Sink = std::function<void(const void* data, size_t size)>;
    // Gives the next record, or false when there is none.
    using Source = std::function<bool(StreamRecord& record)>;

    StreamRebuilder(Source records, Sink out);
    ~StreamRebuilder();
    StreamRebuilder(const StreamRebuilder&) = delete;
    StreamRebuilder& operator=(const StreamRebuilder&) = delete;

    void Write(const void* data, size_t size);
    // The expanded form is complete: every record must be used. Throws
    // PatchError(CorruptPatch) otherwise.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
    Source records_;
    Sink out_;
    StreamRecord record_;
    bool inRecord_ = false;  // record_ is the one the bytes go to
    bool inStream_ = false;  // its gap is done; bytes are deflated
    bool exhausted_ = false;
    uint64_t compressedLeft_ = 0;
    void NextRecord();
    void StartStream();
    void Deflate(const unsigned char* data, size_t size, int flush);
    void EndStream();
    void Settle();
};

}  // namespace patchlib
